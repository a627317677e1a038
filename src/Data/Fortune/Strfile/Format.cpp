// Decoding, encoding and checking strfile data files.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <tallowmere/Data/Fortune/Strfile.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/detail/Coding.hpp"

namespace tallowmere {
namespace {

constexpr std::size_t kOffsetLength = 4;

[[noreturn]] void fail(const char* function, const std::string& what) {
  throw IOError::userError(std::string(function) + ": " + what, {}, ErrorReason::DamagedIndex);
}

bool inTextOrder(const StrfileHeader& header) {
  return (header.flags & (StrfileHeader::ordered | StrfileHeader::random)) == 0;
}

void checkVersion(const char* function, std::uint32_t version) {
  if (version != 1 && version != 2) {
    fail(function, "unsupported version " + std::to_string(version) + " (known: 1 and 2)");
  }
}

// Offsets in a table in text order never decrease; ordered and random tables may be in any
// order.
void checkOrder(const char* function, const StrfileData& data) {
  if (!inTextOrder(data.header)) return;
  for (std::size_t i = 1; i < data.offsets.size(); ++i) {
    if (data.offsets[i] < data.offsets[i - 1]) {
      fail(function, "offset " + std::to_string(i) + " (" + std::to_string(data.offsets[i]) +
                         ") is below offset " + std::to_string(i - 1) + " (" +
                         std::to_string(data.offsets[i - 1]) + ") in a table in text order");
    }
  }
}

// What every data file must satisfy, whatever text it describes.
void checkTable(const char* function, const StrfileData& data) {
  checkVersion(function, data.header.version);
  const std::uint64_t entries = std::uint64_t{data.header.numStrings} + 1;
  if (data.offsets.size() != entries) {
    fail(function, "a header of " + std::to_string(data.header.numStrings) +
                       " strings needs a table of " + std::to_string(entries) + " offsets, not " +
                       std::to_string(data.offsets.size()));
  }
  checkOrder(function, data);
}

}  // namespace

namespace {

StrfileHeader decodeHeader(const char* function, std::string_view bytes) {
  if (bytes.size() < strfileHeaderLength) {
    fail(function, "too few bytes for the header (needed " + std::to_string(strfileHeaderLength) +
                       ", have " + std::to_string(bytes.size()) + ")");
  }
  StrfileHeader h;
  h.version = detail::getFixed32(bytes, 0);
  checkVersion(function, h.version);
  h.numStrings = detail::getFixed32(bytes, 4);
  h.longestLength = detail::getFixed32(bytes, 8);
  h.shortestLength = detail::getFixed32(bytes, 12);
  h.flags = detail::getFixed32(bytes, 16);
  h.delimiter = bytes[20];
  return h;
}

}  // namespace

StrfileHeader decodeStrfileHeader(std::string_view bytes) {
  return decodeHeader("decodeStrfileHeader", bytes);
}

std::uint64_t strfileLength(const StrfileHeader& header) {
  return strfileHeaderLength + (std::uint64_t{header.numStrings} + 1) * kOffsetLength;
}

StrfileData decodeStrfile(std::string_view bytes) {
  constexpr const char* kFunction = "decodeStrfile";
  StrfileData data;
  data.header = decodeHeader(kFunction, bytes);
  const StrfileHeader& h = data.header;

  // Compared before anything is reserved, so that a damaged count costs no memory.
  const std::uint64_t entries = std::uint64_t{h.numStrings} + 1;
  const std::uint64_t tableBytes = entries * kOffsetLength;
  const std::size_t have = bytes.size() - strfileHeaderLength;
  if (tableBytes != have) {
    fail(kFunction, "a table of " + std::to_string(entries) + " offsets takes " +
                        std::to_string(tableBytes) + " bytes after the header, but there are " +
                        std::to_string(have));
  }
  data.offsets.resize(static_cast<std::size_t>(entries));
  for (std::size_t i = 0; i < data.offsets.size(); ++i) {
    data.offsets[i] = detail::getFixed32(bytes, strfileHeaderLength + i * kOffsetLength);
  }
  checkOrder(kFunction, data);
  return data;
}

std::string encodeStrfile(const StrfileData& data) {
  checkTable("encodeStrfile", data);
  const StrfileHeader& h = data.header;
  std::string out;
  out.reserve(strfileHeaderLength + data.offsets.size() * kOffsetLength);
  for (std::uint32_t field :
       {h.version, h.numStrings, h.longestLength, h.shortestLength, h.flags}) {
    detail::putFixed32(out, field);
  }
  out += h.delimiter;
  out.append(3, '\0');
  for (std::uint32_t offset : data.offsets) detail::putFixed32(out, offset);
  return out;
}

std::uint64_t maxStrfileStrings(std::uint64_t textSize) { return (textSize + 2) / 3; }

void checkStrfileHeader(const StrfileHeader& header, std::uint64_t textSize) {
  if (header.numStrings > maxStrfileStrings(textSize)) {
    fail("checkStrfile", std::to_string(header.numStrings) + " strings are more than a text of " +
                             std::to_string(textSize) + " bytes can hold (" +
                             std::to_string(maxStrfileStrings(textSize)) + ")");
  }
}

void checkStrfileOffsets(const StrfileHeader& header, std::span<const std::uint32_t> offsets,
                         std::size_t first, std::optional<std::uint32_t> previous,
                         std::uint64_t textSize) {
  constexpr const char* kFunction = "checkStrfile";
  const bool ordered = inTextOrder(header);
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    const std::uint32_t offset = offsets[i];
    if (offset > textSize) {
      fail(kFunction, "offset " + std::to_string(first + i) + " (" + std::to_string(offset) +
                          ") is past the end of the text (" + std::to_string(textSize) + " bytes)");
    }
    // Empty fortunes are left out of the table, so offsets in text order increase strictly.
    if (ordered && previous && offset <= *previous) {
      fail(kFunction, "offset " + std::to_string(first + i) + " (" + std::to_string(offset) +
                          ") does not follow offset " + std::to_string(first + i - 1) + " (" +
                          std::to_string(*previous) + ") in a table in text order");
    }
    previous = offset;
  }
}

void checkStrfile(const StrfileData& data, std::uint64_t textSize) {
  checkTable("checkStrfile", data);
  checkStrfileHeader(data.header, textSize);
  checkStrfileOffsets(data.header, data.offsets, 0, std::nullopt, textSize);
}

}  // namespace tallowmere
