// The classic strfile data files: FILE.dat beside a fortune text FILE.
//
// A data file is a 24-byte header followed by a table of offsets into the text. Every number
// is an unsigned 32-bit big-endian integer:
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
#include <string>
#include <string_view>
#include <vector>

#include "Platform/File.hpp"

namespace tallowmere {

struct StrfileHeader {
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
struct StrfileData {
  StrfileHeader header;
  // header.numStrings + 1 entries: the fortunes' first bytes in table order, then the end.
  std::vector<std::uint32_t> offsets = {0};

  friend bool operator==(const StrfileData&, const StrfileData&) = default;
};

inline constexpr std::size_t strfileHeaderLength = 24;

// Decodes a whole data file. Throws for fewer than 24 bytes, a version other than 1 or 2, a
// table of numStrings + 1 offsets that does not fill exactly the bytes after the header, and
// a table in text order (neither ordered nor random set) whose offsets decrease. Memory is
// reserved only for the offsets that the bytes hold. The three padding bytes are ignored.
StrfileData decodeStrfile(std::string_view bytes);

// The bytes of a data file, padding zeroed. Throws, rather than write a file that
// decodeStrfile refuses, for a version other than 1 or 2, a table whose length is not
// numStrings + 1, or decreasing offsets in a table in text order.
std::string encodeStrfile(const StrfileData& data);

// Checks data against the text it describes, of `textSize` bytes: throws on the first
// problem that makes the data unusable for reading that text's fortunes (what encodeStrfile
// refuses, and any offset past the end of the text). A text that has grown since the data
// was made passes: its new fortunes are simply not in the table.
void checkStrfile(const StrfileData& data, std::uint64_t textSize);

}  // namespace tallowmere
