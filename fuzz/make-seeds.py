#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Each seed is a small input that reaches a distinct path: valid and broken index headers and
strfile data files, problem texts, fortune texts with delimiter lines, multibyte characters and
invalid UTF-8.
Running it again rewrites these seeds and leaves any other file (reproducers) alone.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
MAGIC, VERSION = 0x0BDCBCDB, 2


def header(index_loc=64, count=0, max_chars=0, min_chars=0, max_lines=0, min_lines=0,
           offset_after=0, magic=MAGIC, version=VERSION):
    fields = (magic, version, index_loc, count, max_chars, min_chars, max_lines, min_lines,
              offset_after)
    return struct.pack(">9I", *(f & 0xFFFFFFFF for f in fields)) + bytes(28)


def entry(offset, length, chars, lines):
    return struct.pack(">4I", offset, length, chars, lines)


def fortune_input(text, index, data, flags=0, number=2):
    """Flags 1: the delimiter \u00a7, 2: no index file, 4: no data file."""
    return bytes([flags]) + struct.pack(">3I", len(text), len(index), number) + text + index + data


TEXT = b"alpha\n%\nbeta\n%\ngamma\n"


# The empty header as stored: the bounds of the empty statistics cut to 32 bits.
EMPTY = header(0x40, 0, 0, 0xFFFFFFFF, 0, 0xFFFFFFFF, 0)
TWO = header(64, 2, 5, 1, 2, 1, 12) + entry(0, 1, 1, 1) + entry(4, 8, 5, 2)
THREE = header(64, 3, 5, 4, 1, 1, 20) + entry(0, 5, 5, 1) + entry(8, 4, 4, 1) + entry(15, 5, 5, 1)


def index_input(file_bytes, writable=True, bad_entry=False, number=1,
                append=(20, 6, 6, 1)):
    flags = (1 if writable else 0) | (2 if bad_entry else 0)
    return bytes([flags]) + struct.pack(">4I", *append) + struct.pack(">I", number) + file_bytes


def strfile_data(offsets, version=2, longest=0, shortest=0xFFFFFFFF, flags=0, delimiter=b"%"):
    header = struct.pack(">5I", version, len(offsets) - 1, longest, shortest, flags)
    return header + delimiter + bytes(3) + struct.pack(">%dI" % len(offsets), *offsets)


# FreeBSD's and NetBSD's layout: the same header, 64-bit big-endian offsets.
def strfile_data64(offsets, version=2, longest=0, shortest=0xFFFFFFFF, flags=0, delimiter=b"%"):
    header = struct.pack(">5I", version, len(offsets) - 1, longest, shortest, flags)
    return header + delimiter + bytes(3) + struct.pack(">%dQ" % len(offsets), *offsets)


# 4.4BSD's on 64-bit little-endian machines: 8-byte fields, each the value big-endian and four
# zero bytes; the delimiter at byte 40, the header padded to 48.
def strfile_data_longs(offsets, version=2, longest=0, shortest=0xFFFFFFFF, flags=0,
                       delimiter=b"%"):
    fields = [version, len(offsets) - 1, longest, shortest, flags]
    header = b"".join(struct.pack(">I", value) + bytes(4) for value in fields)
    return (header + delimiter + bytes(7)
            + b"".join(struct.pack(">I", value) + bytes(4) for value in offsets))


# For the strfile target's text half: the delimiter (0 '%', 1 '#', 2 newline, 3 'a', 4 NUL)
# and the options (random 1, ordered 2, rotated 4, ignore case 8), then the text.
def strfile_text(delimiter, options, text):
    return bytes([delimiter, options]) + text


SEEDS = {
    "decode": {
        "empty-header": EMPTY,
        "two-entries": TWO,
        "bad-magic": bytes(64),
        "bad-version": header(version=3),
        "short": header()[:20],
        "reserved-bytes-set": header()[:36] + b"\xff" * 28 + entry(7, 7, 7, 7),
    },
    "parse": {
        "stats-negative-count": b"StatsProblem (NegativeCount (-3))",
        "negative-length": b"NegativeLength (-1)",
        "negative-offset-hex": b"NegativeOffset 0x1F",
        "lengths-without-entries": b"LengthsWithoutEntries",
        "max-below-min": b"( MaxLengthLessThanMinLength )",
        "inconsistent": b"InconsistentLengthsForOneEntry",
        "bad-magic": b"BadMagicNumber 0",
        "unsupported-version": b"UnsupportedVersion 0o7",
        "table-before-header": b"TableStartsBeforeHeaderEnds",
        "index-header-stats": b"HeaderProblem (StatsProblem (NegativeLength (-1)))",
        "index-bad-magic": b"HeaderProblem (BadMagicNumber 201112795)",
        "table-longer": b"TableLongerThanFile",
        "closed": b"((AccessToClosedIndex))",
        "type": b"Offensive",
        "type-list": b"[All,Normal, Offensive ]",
    },
    "rebuild": {
        # First byte: the delimiter ('%' below 128; 128 is U+00A7, 130 U+1F600, 131 U+FFFD;
        # 192 to 223 take the next byte as an ASCII delimiter); then the scanner's chunk size.
        "percent": b"\x00\x03" b"A\n%\nB\n",
        "percent-no-final-newline": b"\x00\x00" b"x\ny\n%\nz",
        "percent-empty-fortunes": b"\x00\x01" b"\n%\nA\n%\n\n%\n%x\n%\n",
        # A newline as the delimiter: after a delimiter line the character kept as the
        # previous one is the delimiter, itself a newline, so the scan counts a delimiter line
        # after the fortune's last character and takes a newline's byte off it.
        "newline-delimiter-negative-length": b"\x84\x00" b"\n\n\n",
        "newline-delimiter-cut-character": b"\x84\x00" + "a\n\n\u00e9\n\nb".encode(),
        "section-sign": b"\x80\x02" + "A\n\u00a7\nB \u00e9t\u00e9\n\u00a7\n".encode(),
        "emoji": b"\x82\x05" + "one\n\U0001F600\ntwo \U0001F600\n".encode(),
        "replacement": b"\x83\x04" b"a\n\xff\nb\n\xef\xbf\xbd\nc",
        "invalid-utf8": b"\x00\x06" b"caf\xc3\xa9\n%\n\xe2\x82\n%\n\xc0\x80\xed\xa0\x80\xf8\n%\nend\xe2",
        "hash": b"\xc0#\x07" b"a\n#\n#\nb\n#x\n",
        "sayings": b"\x00\x0f" b"A kettle watched by three cats\nnever boils, but it does purr.\n%\n"
                   b"Tomorrow's weather: mostly Tuesday.\n%\n"
                   b"The map was right; the land was wrong.\n",
    },
    "strfile": {
        "three-fortunes": strfile_data([2, 32, 59, 73], longest=26, shortest=12),
        "empty": strfile_data([0]),
        "version-1": strfile_data([0, 9, 20], version=1, longest=7, shortest=5),
        "ordered": strfile_data([15, 60, 46, 0, 31, 73], longest=14, shortest=12, flags=2),
        "decreasing": strfile_data([0, 40, 30, 50], longest=20, shortest=8),
        "count-too-big": strfile_data([0, 9])[:4] + b"\xff\xff\xff\xff" + strfile_data([0, 9])[8:],
        "short": strfile_data([0])[:20],
        "three-fortunes-64": strfile_data64([2, 32, 59, 73], longest=26, shortest=12),
        "three-fortunes-longs": strfile_data_longs([2, 32, 59, 73], longest=26, shortest=12),
        "ordered-longs": strfile_data_longs([15, 60, 46, 0, 31, 73], longest=14, shortest=12,
                                            flags=2),
        "sweets-ordered": strfile_text(0, 10, b"banana bread\n%\n...Apple tart\n%\n  cherry jam\n"
                                       b"%\napple cider\n%\nBanana split\n"),
        "ties": strfile_text(0, 2, b"same\n%\nsame\n%\nab\n%x\n%\nab\n\0\n%\nsame\n"),
        "empty-fortunes": strfile_text(0, 0, b"%\nPond\n%\n%\nHeron\n\n%\nReeds\n%"),
        "hash-rotated": strfile_text(1, 4, b"Ynagrea\n#\nCrooyrf %\n%\n#\n"),
        "long-line": strfile_text(0, 3, b"w" * 300 + b"%\nx\n%\n--\n-- zed\n"),
        # Keys that agree beyond the bytes kept in memory, so that the text is read again.
        "long-ties": strfile_text(0, 10, b"Ax" + b"y" * 40 + b"b\n%\nax" + b"y" * 40 + b"a\n%\nAx"
                                  + b"y" * 40),
    },
    "index": {
        "writable-empty-file": index_input(b""),
        "read-only-empty-file": index_input(b"", writable=False),
        "virtual-empty": index_input(EMPTY),
        "two-entries": index_input(TWO, number=1),
        "two-entries-bad-append": index_input(TWO, bad_entry=True),
        "stats-repaired": index_input(header(64, 2, 3, 5, 2, 1, 12) + entry(0, 1, 1, 1)
                                      + entry(4, 8, 5, 2)),
        "table-longer-than-file": index_input(header(64, 3, 1, 1, 1, 1, 9) + bytes(47)),
        "table-before-header": index_input(header(32, 0)),
        "gap-before-table": index_input(header(80, 1, 4, 4, 1, 1, 4) + bytes(16)
                                        + entry(0, 4, 4, 1), number=0),
        "bad-magic": index_input(bytes(64)),
        # Statistics repaired at opening skip the table check, so a table offset far beyond
        # the end of the file is accepted, and the next append writes there.
        "repaired-table-beyond-file": index_input(header(0x40000000, 0, 5, 1, 2, 1, 12)),
    },
    "fortune": {
        "sound": fortune_input(TEXT, THREE, strfile_data([0, 8, 15, 21], 2, 5, 4)),
        "count-too-big": fortune_input(TEXT, header(64, 1000, 5, 4, 1, 1, 20) + THREE[64:]
                                       + bytes(16 * 997), b""),
        "entry-over-the-text": fortune_input(TEXT, header(64, 3, 20, 4, 5, 1, 20)
                                             + entry(0, 20, 20, 5) + THREE[80:], b""),
        "entry-holding-a-delimiter-line": fortune_input(TEXT, header(64, 2, 12, 5, 3, 1, 20)
                                                        + entry(0, 12, 12, 3)
                                                        + entry(15, 5, 5, 1), b""),
        "out-of-order": fortune_input(TEXT, header(64, 3, 5, 4, 1, 1, 20) + entry(8, 4, 4, 1)
                                      + entry(0, 5, 5, 1) + entry(15, 5, 5, 1), b""),
        "data-count-too-big": fortune_input(TEXT, b"", strfile_data([0, 8, 15, 21])[:4]
                                            + b"\x00\x00\x00\x09"
                                            + strfile_data([0] * 10)[8:], flags=2),
        "data-random": fortune_input(TEXT, b"", strfile_data([15, 0, 8, 21], flags=1), flags=2),
        "section-sign": fortune_input("x\n\u00a7\ny\n".encode(), b"", b"", flags=1),
    },
}

for target, seeds in SEEDS.items():
    directory = os.path.join(HERE, "corpus", target)
    os.makedirs(directory, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(directory, name), "wb") as out:
            out.write(data)
