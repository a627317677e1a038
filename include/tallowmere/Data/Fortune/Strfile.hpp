// The classic strfile data files: FILE.dat beside a fortune text FILE.
//
// A data file is a header followed by a table of offsets into the text. Three layouts are in
// use (StrfileLayout); the one strfile writes on Linux, which this library writes, has a
// 24-byte header and 32-bit offsets, every number an unsigned big-endian integer:
//
//   offset  0  version (1 or 2; both have this layout)
//   offset  4  numStrings: the number of fortunes
//   offset  8  longestLength, offset 12 shortestLength: in bytes (0 and 0xFFFFFFFF for none)
//   offset 16  flags: random 0x1, ordered 0x2, rotated 0x4, comments 0x8
//   offset 20  the delimiter byte, then three zero bytes
//   offset 24  numStrings + 1 offsets: where each fortune starts, then the size of the text
//
// A fortune is the text from its offset up to the first line, counted from that offset, that
// holds only the delimiter (the delimiter byte and a newline), or up to the end of the text;
// its length excludes that delimiter line. Empty fortunes (two delimiter lines in a row, or a
// delimiter line at the start or end of the text) are not in the table. A text without any
// delimiter line is one fortune; a final line without a newline belongs to the last fortune,
// even when it is the delimiter alone.
//
// The table is in text order unless the ordered or random flag is set. The rotated flag says
// that the text's letters are stored rot13-encoded; readers undo it with rot13().
//
// Everything here works on bytes in memory or reads through a File; nothing writes a file.
// Failures are IOErrors of the user-error kind with a message naming the function and what
// is wrong; platform errors from a File pass through unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <tallowmere/Data/Fortune/FunctionRef.hpp>
#include <tallowmere/Data/Fortune/Index/Format.hpp>
#include <tallowmere/Platform/Env.hpp>
#include <tallowmere/Platform/Export.hpp>
#include <tallowmere/Platform/File.hpp>

namespace tallowmere {

// The layouts of data files in use. They are told apart by the file's own consistency (its
// version, and its size against the table its count asks for), never by the machine reading
// it: the size alone separates them, as decodeStrfileHead explains.
enum class StrfileLayout {
  // Linux's strfile, and OpenBSD's: the 24-byte header above (OpenBSD's ends in the delimiter
  // and the padding of its structure, the same bytes), then 32-bit big-endian offsets.
  Offsets32,
  // FreeBSD's and NetBSD's: the same 24-byte header, then 64-bit big-endian offsets.
  Offsets64,
  // 4.4BSD's strfile built for a 64-bit little-endian machine, which ran htonl over fields of
  // 8 bytes: every header field and every offset takes 8 bytes, the value's 32 bits big-endian
  // and then four zero bytes; the delimiter is at byte 40, and the header is padded to 48.
  Longs64,
};

struct TALLOWMERE_API StrfileHeader {
  // Flag bits.
  static constexpr std::uint32_t random = 0x1;    // the table is in no particular order
  static constexpr std::uint32_t ordered = 0x2;   // the table is sorted (see buildStrfile)
  static constexpr std::uint32_t rotated = 0x4;   // the text's letters are rot13-encoded
  static constexpr std::uint32_t comments = 0x8;  // kept as read; the builder never sets it

  std::uint32_t version = 2;
  std::uint32_t numStrings = 0;
  std::uint32_t longestLength = 0;
  std::uint32_t shortestLength = 0xFFFFFFFF;
  std::uint32_t flags = 0;
  char delimiter = '%';

  friend bool operator==(const StrfileHeader&, const StrfileHeader&) = default;
};

// The decoded contents of a data file.
struct TALLOWMERE_API StrfileData {
  StrfileHeader header;
  // header.numStrings + 1 entries: the fortunes' first bytes in table order, then the end.
  std::vector<std::uint32_t> offsets = {0};
  // How it is laid out in its file; offsets whose upper half is not zero are not read.
  StrfileLayout layout = StrfileLayout::Offsets32;

  friend bool operator==(const StrfileData&, const StrfileData&) = default;
};

// The header of the Linux layout; no layout's is longer than strfileHeadLength.
inline constexpr std::size_t strfileHeaderLength = 24;
inline constexpr std::size_t strfileHeadLength = 48;

// Decodes a whole data file, in the layout it fits (decodeStrfileHead). Throws for bytes that
// fit none, offsets whose upper half is not zero, and a table in text order (neither ordered
// nor random set) whose offsets decrease. Memory is reserved only for the offsets that the
// bytes hold. Padding is ignored.
[[nodiscard]] TALLOWMERE_API StrfileData decodeStrfile(std::string_view bytes);

// A data file's header and layout.
struct TALLOWMERE_API StrfileHead {
  StrfileHeader header;
  StrfileLayout layout = StrfileLayout::Offsets32;

  friend bool operator==(const StrfileHead&, const StrfileHead&) = default;
};

// The header and layout of a data file of `fileSize` bytes, from its first bytes (up to
// strfileHeadLength): the layout whose header has version 1 or 2 (and, in the 8-byte layout,
// zero upper halves) and whose table for its count fills the file exactly. Two layouts never
// both fit: the two with a 24-byte header read their count from the same field and need tables
// of different lengths for it, and the 8-byte one needs that field to be zero, which gives
// them a file of 28 or 32 bytes, shorter than its 48-byte header. Throws, saying what each
// layout found wrong, for a file that fits none.
[[nodiscard]] TALLOWMERE_API StrfileHead decodeStrfileHead(std::string_view head,
                                                           std::uint64_t fileSize);

// The header alone in the Linux layout, from the first 24 bytes; throws for a short input or
// an unknown version.
[[nodiscard]] TALLOWMERE_API StrfileHeader decodeStrfileHeader(std::string_view bytes);

// How many bytes a data file with this header holds in `layout`: the header and
// numStrings + 1 offsets.
[[nodiscard]] TALLOWMERE_API std::uint64_t strfileLength(
    const StrfileHeader& header, StrfileLayout layout = StrfileLayout::Offsets32);

// The bytes of a data file in data.layout, padding zeroed. Throws, rather than write a file that
// decodeStrfile refuses, for a version other than 1 or 2, a table whose length is not
// numStrings + 1, or decreasing offsets in a table in text order.
[[nodiscard]] TALLOWMERE_API std::string encodeStrfile(const StrfileData& data);

// Checks data against the text it describes, of `textSize` bytes: throws on the first
// problem that makes the data unusable for reading that text's fortunes (what encodeStrfile
// refuses, more strings than the text can hold, any offset past the end of the text, and
// offsets that do not increase strictly in a table in text order). A text that has grown since
// the data was made passes: its new fortunes are simply not in the table.
TALLOWMERE_API void checkStrfile(const StrfileData& data, std::uint64_t textSize);

// The most fortunes a data file can list for a text of `textSize` bytes: every fortune but the
// last takes at least one line (a newline) and the delimiter line after it, three bytes, and
// empty fortunes are not listed.
[[nodiscard]] TALLOWMERE_API std::uint64_t maxStrfileStrings(std::uint64_t textSize);

// The parts of checkStrfile: the header's count against the text's size, and a run of the
// table's offsets, numbered from `first` and following `previous` (offset first - 1, if any).
TALLOWMERE_API void checkStrfileHeader(const StrfileHeader& header, std::uint64_t textSize);
TALLOWMERE_API void checkStrfileOffsets(const StrfileHeader& header,
                                        std::span<const std::uint32_t> offsets, std::size_t first,
                                        std::optional<std::uint32_t> previous,
                                        std::uint64_t textSize);

struct TALLOWMERE_API StrfileOptions {
  char delimiter = '%';
  // Any of StrfileHeader::random, ordered and rotated; others throw. Ordered wins over random,
  // which is then dropped.
  std::uint32_t flags = 0;
  // With ordered: letters A-Z compare as a-z.
  bool ignoreCase = false;

  friend bool operator==(const StrfileOptions&, const StrfileOptions&) = default;
};

// The data of a text, as Debian's `strfile` writes it for the same text and options. The
// rotated flag is only recorded: the text is taken as it is stored. With random the table
// stays in text order (any order is valid for it). With ordered the table is sorted by each
// fortune's key, ties in text order. A key runs from the fortune's first ASCII letter or digit
// to the first later line that starts with the delimiter, or to the fortune's end; keys are
// the stored bytes, also under the rotated flag. They compare byte by byte as unsigned
// numbers, A-Z folded to a-z with ignoreCase; where a key ends it compares as a 0 byte (so a
// NUL byte in the other key ties with it), or, when it ends with the text, below any byte.
// Throws when the text is too large for 32-bit offsets.
//
// The File overload reads from byte 0 to the end in chunks and never holds the whole text;
// ordering keeps a short prefix of each key and reads the text again to break longer ties.
// It leaves the file's position anywhere.
[[nodiscard]] TALLOWMERE_API StrfileData buildStrfile(std::string_view text,
                                                      const StrfileOptions& options = {});
TALLOWMERE_API StrfileData buildStrfile(File& text, const StrfileOptions& options = {});

// Where one fortune lies in the text: the bytes `fortune` prints for it (before undoing the
// rotated flag).
struct TALLOWMERE_API StrfileSpan {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;

  friend bool operator==(const StrfileSpan&, const StrfileSpan&) = default;
};

// Fortune `number` (from 0, in table order): from its offset to the first delimiter line or
// the end of the text. Throws when number >= numStrings or the offset is past the end of the
// text. The File overload reads from the offset in chunks, only as far as the fortune goes.
[[nodiscard]] TALLOWMERE_API StrfileSpan locateStrfileFortune(const StrfileData& data,
                                                              std::uint32_t number,
                                                              std::string_view text);
[[nodiscard]] TALLOWMERE_API StrfileSpan locateStrfileFortune(const StrfileData& data,
                                                              std::uint32_t number, File& text);

// Rotates the letters A-Z and a-z by 13 places; every other byte is unchanged. Its own
// inverse.
[[nodiscard]] TALLOWMERE_API std::string rot13(std::string_view text);

// Reading a classic fortune file through its data file, as this library reads fortune files
// through their index: fortunes counted and numbered as the data file has them, each without
// the newline that ends its last line, its letters rotated back when the rotated flag is set,
// and invalid UTF-8 read as U+FFFD.

// The header of the data file at `dataPath`, when it decodes, the file is as long as its table
// says, and its count fits a text of `textSize` bytes (checkStrfileHeader); no value otherwise.
// Reads the header alone. Without `textSize`, the text is the file beside the data file
// (`dataPath` without ".dat"), when there is one.
[[nodiscard]] TALLOWMERE_API std::optional<StrfileHeader> readStrfileHeader(
    const std::string& dataPath, Env& env = Env::disk());
[[nodiscard]] TALLOWMERE_API std::optional<StrfileHeader> readStrfileHeader(
    const std::string& dataPath, std::int64_t textSize, Env& env = Env::disk());

// The data file at `dataPath` checked against the text at `textPath` (checkStrfile); no value
// when there is none, or it is damaged or does not fit the text. The header is checked before
// the table is read, and the table is read and checked in pieces of bounded size, so that a
// damaged count costs neither time nor memory.
[[nodiscard]] TALLOWMERE_API std::optional<StrfileData> readStrfileFor(const std::string& dataPath,
                                                                       const std::string& textPath,
                                                                       Env& env = Env::disk());
// The same for a text whose size the caller has just looked at (a directory walk, say).
[[nodiscard]] TALLOWMERE_API std::optional<StrfileData> readStrfileFor(const std::string& dataPath,
                                                                       std::int64_t textSize,
                                                                       Env& env = Env::disk());

// How a data file stands against its text, as checkStrfileFor finds it.
enum class StrfileFileState {
  Sound,  // it lists the fortunes strfile finds in the text (in any order, when ordered or random)
  Missing,          // there is no data file
  Unusable,         // it fits no layout, or cannot describe the text; see detail
  Stale,            // the text was changed after it was written (its modification time is later)
  DiffersFromText,  // it fits the text, but lists other fortunes than strfile finds in it
};

struct TALLOWMERE_API StrfileFileReport {
  StrfileFileState state = StrfileFileState::Sound;
  std::string detail;                               // Unusable: why
  StrfileLayout layout = StrfileLayout::Offsets32;  // Sound, DiffersFromText
  std::uint32_t numStrings = 0;                     // Sound: the number of fortunes

  friend bool operator==(const StrfileFileReport&, const StrfileFileReport&) = default;
};

// Checks the data file at `dataPath` against the text at `textPath`, reading both whole in
// bounded memory. Throws only what opening or reading the files throws.
[[nodiscard]] TALLOWMERE_API StrfileFileReport checkStrfileFor(const std::string& dataPath,
                                                               const std::string& textPath,
                                                               Env& env = Env::disk());

// Fortune `number`'s text. Throws as locateStrfileFortune does.
[[nodiscard]] TALLOWMERE_API std::string strfileFortune(const StrfileData& data,
                                                        std::uint32_t number, File& text);

// Fortune `number`'s entry as an index of this library records it: offset, length in bytes
// and characters, and lines. Throws as locateStrfileFortune does.
[[nodiscard]] TALLOWMERE_API IndexEntry strfileEntry(const StrfileData& data, std::uint32_t number,
                                                     File& text);

// The entries of every fortune, in table order. Reads the text as forEachStrfileFortune does.
[[nodiscard]] TALLOWMERE_API std::vector<IndexEntry> strfileEntries(const StrfileData& data,
                                                                    File& text);

// Visits every fortune in table order with its number and its bytes (letters rotated back under
// the rotated flag, without the final newline, invalid UTF-8 left as it is). The text is read in
// large pieces, once when the table is in text order: memory stays bounded by the longest
// fortune. Throws as locateStrfileFortune does.
TALLOWMERE_API void forEachStrfileFortune(const StrfileData& data, File& text,
                                          FunctionRef<void(std::uint32_t, std::string_view)> visit);

}  // namespace tallowmere
