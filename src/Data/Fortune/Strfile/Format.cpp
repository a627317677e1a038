// Decoding, encoding and checking strfile data files.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <tallowmere/Data/Fortune/Strfile.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/Strfile/Layout.hpp"
#include "Data/Fortune/detail/Coding.hpp"

namespace tallowmere {
namespace {

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

// The 32-bit field at `at` of a data file in `layout`: in the 4.4BSD layout a field of 8
// bytes whose last four are zero (none when they are not).
std::optional<std::uint32_t> field(StrfileLayout layout, std::string_view bytes, std::size_t at) {
  if (layout != StrfileLayout::Longs64) return detail::getFixed32(bytes, at);
  if (detail::getFixed32(bytes, at + 4) != 0) return std::nullopt;
  return detail::getFixed32(bytes, at);
}

std::size_t fieldLength(StrfileLayout layout) { return layout == StrfileLayout::Longs64 ? 8 : 4; }

// The header in `layout`, or why the file's first bytes and size do not fit it.
struct LayoutFit {
  std::optional<StrfileHeader> header;
  std::string why;
};

LayoutFit fitLayout(StrfileLayout layout, std::string_view head, std::uint64_t fileSize) {
  const std::size_t headerLength = detail::strfileHeaderLengthOf(layout);
  if (fileSize < headerLength || head.size() < headerLength) {
    return {std::nullopt, "too few bytes for its header of " + std::to_string(headerLength)};
  }
  const std::size_t step = fieldLength(layout);
  std::uint32_t fields[5];
  for (std::size_t i = 0; i < 5; ++i) {
    const auto value = field(layout, head, i * step);
    if (!value) return {std::nullopt, "its 8-byte header fields do not end in four zero bytes"};
    fields[i] = *value;
  }
  StrfileHeader h{fields[0], fields[1], fields[2], fields[3], fields[4], head[5 * step]};
  if (h.version != 1 && h.version != 2) {
    return {std::nullopt, "version " + std::to_string(h.version) + " (known: 1 and 2)"};
  }
  const std::uint64_t length = strfileLength(h, layout);
  if (fileSize != length) {
    return {std::nullopt, std::to_string(h.numStrings) + " strings take " + std::to_string(length) +
                              " bytes, not " + std::to_string(fileSize)};
  }
  return {h, {}};
}

const char* layoutName(StrfileLayout layout) {
  switch (layout) {
    case StrfileLayout::Offsets32:
      return "with 32-bit offsets (Linux, OpenBSD)";
    case StrfileLayout::Offsets64:
      return "with 64-bit offsets (FreeBSD, NetBSD)";
    case StrfileLayout::Longs64:
      return "with 8-byte fields (4.4BSD on 64-bit machines)";
  }
  return "";
}

constexpr StrfileLayout kLayouts[] = {StrfileLayout::Offsets32, StrfileLayout::Offsets64,
                                      StrfileLayout::Longs64};

StrfileHead decodeHead(const char* function, std::string_view head, std::uint64_t fileSize) {
  // The file's size tells the layouts apart: the first two read their count from the same
  // field and need tables of different lengths for it, and the third needs the second field
  // of the first two (bytes 4 to 7) to be zero, which for them is a table of one offset in 28
  // or 32 bytes, shorter than its own 48-byte header.
  std::string why;
  for (const StrfileLayout layout : kLayouts) {
    LayoutFit fit = fitLayout(layout, head, fileSize);
    if (fit.header) return {*fit.header, layout};
    why += std::string(why.empty() ? "" : "; ") + layoutName(layout) + ": " + fit.why;
  }
  fail(function, "fits no layout of data file in use (" + why + ")");
}

}  // namespace

StrfileHeader decodeStrfileHeader(std::string_view bytes) {
  constexpr const char* kFunction = "decodeStrfileHeader";
  if (bytes.size() < strfileHeaderLength) {
    fail(kFunction, "too few bytes for the header (needed " + std::to_string(strfileHeaderLength) +
                        ", have " + std::to_string(bytes.size()) + ")");
  }
  StrfileHeader h;
  h.version = detail::getFixed32(bytes, 0);
  checkVersion(kFunction, h.version);
  h.numStrings = detail::getFixed32(bytes, 4);
  h.longestLength = detail::getFixed32(bytes, 8);
  h.shortestLength = detail::getFixed32(bytes, 12);
  h.flags = detail::getFixed32(bytes, 16);
  h.delimiter = bytes[20];
  return h;
}

StrfileHead decodeStrfileHead(std::string_view head, std::uint64_t fileSize) {
  return decodeHead("decodeStrfileHead", head, fileSize);
}

std::uint64_t strfileLength(const StrfileHeader& header, StrfileLayout layout) {
  return detail::strfileHeaderLengthOf(layout) +
         (std::uint64_t{header.numStrings} + 1) * detail::strfileOffsetLengthOf(layout);
}

StrfileData decodeStrfile(std::string_view bytes) {
  constexpr const char* kFunction = "decodeStrfile";
  const StrfileHead head = decodeHead(kFunction, bytes, bytes.size());
  StrfileData data;
  data.header = head.header;
  data.layout = head.layout;
  // The file's size matched the table's before anything is reserved, so that a damaged count
  // costs no memory.
  const std::size_t first = detail::strfileHeaderLengthOf(head.layout);
  data.offsets.resize(std::size_t{head.header.numStrings} + 1);
  if (const auto wide =
          detail::decodeStrfileOffsets(head.layout, bytes.substr(first), data.offsets)) {
    fail(kFunction, "offset " + std::to_string(*wide) + " does not fit 32 bits");
  }
  checkOrder(kFunction, data);
  return data;
}

std::string encodeStrfile(const StrfileData& data) {
  checkTable("encodeStrfile", data);
  const StrfileHeader& h = data.header;
  const StrfileLayout layout = data.layout;
  const std::size_t padding = fieldLength(layout) - 4;
  std::string out;
  out.reserve(strfileLength(h, layout));
  for (std::uint32_t value :
       {h.version, h.numStrings, h.longestLength, h.shortestLength, h.flags}) {
    detail::putFixed32(out, value);
    out.append(padding, '\0');
  }
  out += h.delimiter;
  out.resize(detail::strfileHeaderLengthOf(layout), '\0');
  for (std::uint32_t offset : data.offsets) {
    if (layout == StrfileLayout::Offsets64) out.append(4, '\0');  // the upper half, big-endian
    detail::putFixed32(out, offset);
    out.append(padding, '\0');
  }
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

namespace tallowmere::detail {

std::size_t strfileHeaderLengthOf(StrfileLayout layout) noexcept {
  return layout == StrfileLayout::Longs64 ? 48 : strfileHeaderLength;
}

std::size_t strfileOffsetLengthOf(StrfileLayout layout) noexcept {
  return layout == StrfileLayout::Offsets32 ? 4 : 8;
}

std::optional<std::size_t> decodeStrfileOffsets(StrfileLayout layout, std::string_view bytes,
                                                std::span<std::uint32_t> out) noexcept {
  // A loop of its own for each layout, so that the compiler makes each a plain run of loads.
  switch (layout) {
    case StrfileLayout::Offsets32:
      for (std::size_t i = 0; i < out.size(); ++i) out[i] = getFixed32(bytes, i * 4);
      return std::nullopt;
    case StrfileLayout::Offsets64:  // the upper half first
      for (std::size_t i = 0; i < out.size(); ++i) {
        if (getFixed32(bytes, i * 8) != 0) return i;
        out[i] = getFixed32(bytes, i * 8 + 4);
      }
      return std::nullopt;
    case StrfileLayout::Longs64:  // the value first
      for (std::size_t i = 0; i < out.size(); ++i) {
        if (getFixed32(bytes, i * 8 + 4) != 0) return i;
        out[i] = getFixed32(bytes, i * 8);
      }
      return std::nullopt;
  }
  return 0;
}

}  // namespace tallowmere::detail
