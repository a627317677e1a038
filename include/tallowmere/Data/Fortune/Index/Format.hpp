// The index file format.
//
// An index file is a 64-byte header followed, from byte indexLoc on, by a table of 16-byte
// entries, one per fortune. Every stored integer is an unsigned 32-bit big-endian number:
// encoding keeps the low 32 bits of each 64-bit value, decoding extends with zeros.
//
//   offset  0  magic number 0x0BDCBCDB      offset 20  minChars
//   offset  4  format version (2)           offset 24  maxLines
//   offset  8  indexLoc                     offset 28  minLines
//   offset 12  numFortunes                  offset 32  offsetAfter
//   offset 16  maxChars                     offset 36  28 reserved zero bytes
//
// An entry stores stringOffset, stringBytes, stringChars, stringLines in that order.
// The functions here are pure; they do no I/O.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include <tallowmere/Data/Fortune/Stats.hpp>
#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

inline constexpr std::uint32_t indexMagicNumber = 0x0BDCBCDB;
inline constexpr std::uint32_t indexFormatVersion = 2;
inline constexpr std::int64_t indexHeaderLength = 64;
inline constexpr std::int64_t indexEntryLength = 16;

struct TALLOWMERE_API Header {
  FortuneStats stats;     // statistics of the table's entries; stats.numFortunes entries
  std::int64_t indexLoc;  // byte offset of the entry table

  friend bool operator==(const Header&, const Header&) = default;
};

// One fortune: where it starts in the text file and how long it is.
struct TALLOWMERE_API IndexEntry {
  std::int64_t stringOffset;  // byte offset of its first byte
  std::int64_t stringBytes;   // length in bytes
  std::int64_t stringChars;   // length in characters
  std::int64_t stringLines;   // number of lines

  friend auto operator<=>(const IndexEntry&, const IndexEntry&) = default;
};

// No entries, the table right after the header.
inline constexpr Header emptyHeader = {FortuneStats::mempty, indexHeaderLength};

// The statistics of one entry: one fortune ending at stringOffset + stringBytes.
[[nodiscard]] TALLOWMERE_API FortuneStats indexEntryStats(const IndexEntry& entry) noexcept;
// The statistics of the entries together: the combination (+) of their indexEntryStats, in one
// pass.
[[nodiscard]] TALLOWMERE_API FortuneStats
indexEntryStats(std::span<const IndexEntry> entries) noexcept;

// Exactly 64 bytes.
[[nodiscard]] TALLOWMERE_API std::string encodeHeader(const Header& header);
// Decodes the first 64 bytes of `bytes`. A wrong magic number or version throws the
// HeaderProblemError BadMagicNumber or UnsupportedVersion (the magic number is checked as soon
// as 4 bytes are present); fewer than 64 bytes otherwise throw an IOError of the user-error
// kind whose message holds "too few bytes" and "demandInput". Field values are not checked.
[[nodiscard]] TALLOWMERE_API Header decodeHeader(std::string_view bytes);

// Exactly 16 bytes.
[[nodiscard]] TALLOWMERE_API std::string encodeIndexEntry(const IndexEntry& entry);
// Appends the encodings of `entries` to `out`, in order.
TALLOWMERE_API void encodeIndexEntries(std::span<const IndexEntry> entries, std::string& out);
// Writes the encodings of `entries`, in order, to the 16 bytes per entry at `out`; returns the
// end of what it wrote.
TALLOWMERE_API char* encodeIndexEntries(std::span<const IndexEntry> entries, char* out) noexcept;
// Decodes the entry at `position` in `bytes`; returns it and the position after it. Fewer than
// 16 bytes from `position` on throw an IOError of the user-error kind ("too few bytes").
[[nodiscard]] TALLOWMERE_API std::pair<IndexEntry, std::size_t> decodeIndexEntry(
    std::string_view bytes, std::size_t position);

// Record text forms, for example "IndexEntry {stringOffset = 0, stringBytes = 42, ...}";
// enclosed in parentheses at precedence 11 or more.
[[nodiscard]] TALLOWMERE_API std::string show(const Header& header, int precedence = 0);
TALLOWMERE_API std::string show(const IndexEntry& entry, int precedence = 0);
TALLOWMERE_API std::ostream& operator<<(std::ostream& out, const Header& header);
TALLOWMERE_API std::ostream& operator<<(std::ostream& out, const IndexEntry& entry);

}  // namespace tallowmere
