// Fuzz target: strfile data files, decoded from arbitrary bytes and built from arbitrary texts.
//
// decodeStrfile must decode exactly the inputs that fit one of the layouts in use (a header with
// version 1 or 2, a table of numStrings + 1 offsets filling the rest, every field's unused half
// zero), with offsets that do not decrease unless the ordered or random flag is set; anything
// else is the user-error IOError. Decoded data encodes back to the input (padding zeroed) and
// decodes equal; built data does so in every layout.
//
// The input, after two control bytes (delimiter and options), is also taken as a text:
// buildStrfile's data must pass checkStrfile and round-trip, ordering must only permute the
// fortunes, and each fortune located must lie in the text, hold no delimiter line and have a
// length between the header's shortest and longest.
#include <tallowmere/Data/Fortune/Strfile.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <tallowmere/Platform/Errors.hpp>
#include "FuzzSupport.hpp"

namespace tallowmere::fuzz {
namespace {

std::uint32_t bigEndian32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

// The layouts, as their descriptions give them: header field and offset widths, the header's
// length, and whether a value takes the first four bytes of its field (else the last four).
struct Layout {
  std::size_t field;
  std::size_t offset;
  std::size_t header;
  bool valueFirst;
};
constexpr Layout kLayouts[] = {{4, 4, 24, true}, {4, 8, 24, false}, {8, 8, 48, true}};

// The value of the field of `width` bytes at `at`; none when its other bytes are not zero.
std::optional<std::uint32_t> valueAt(std::string_view bytes, std::size_t at, std::size_t width,
                                     bool valueFirst) {
  const std::size_t value = valueFirst ? at : at + width - 4;
  for (std::size_t i = at; i < at + width; ++i) {
    if ((i < value || i >= value + 4) && bytes[i] != '\0') return std::nullopt;
  }
  return bigEndian32(bytes, value);
}

// The layout that the bytes fit, by their version and size; at most one does.
const Layout* layoutOf(std::string_view bytes) {
  for (const Layout& layout : kLayouts) {
    if (bytes.size() < layout.header) continue;
    const auto version = valueAt(bytes, 0, layout.field, layout.valueFirst);
    const auto count = valueAt(bytes, layout.field, layout.field, layout.valueFirst);
    bool fields = version && count;
    for (std::size_t i = 2; i < 5; ++i) {
      fields = fields && valueAt(bytes, i * layout.field, layout.field, layout.valueFirst);
    }
    if (!fields || (*version != 1 && *version != 2)) continue;
    if (bytes.size() - layout.header != (std::uint64_t{*count} + 1) * layout.offset) continue;
    return &layout;
  }
  return nullptr;
}

bool decodable(std::string_view bytes) {
  const Layout* layout = layoutOf(bytes);
  if (layout == nullptr) return false;
  const bool anyOrder =
      (valueAt(bytes, 4 * layout->field, layout->field, layout->valueFirst).value() &
       (StrfileHeader::ordered | StrfileHeader::random)) != 0;
  std::optional<std::uint32_t> previous;
  for (std::size_t at = layout->header; at < bytes.size(); at += layout->offset) {
    const auto offset = valueAt(bytes, at, layout->offset, layout->valueFirst);
    if (!offset) return false;
    if (!anyOrder && previous && *offset < *previous) return false;
    previous = offset;
  }
  return true;
}

// The bytes with their padding, between the delimiter and the table, zeroed.
std::string withPaddingZeroed(std::string_view bytes) {
  std::string padded(bytes);
  const Layout& layout = *layoutOf(bytes);
  const std::size_t delimiter = 5 * layout.field;
  padded.replace(delimiter + 1, layout.header - delimiter - 1, layout.header - delimiter - 1, '\0');
  return padded;
}

void fuzzDecode(std::string_view bytes) {
  const bool expected = decodable(bytes);
  try {
    const StrfileData data = decodeStrfile(bytes);
    FUZZ_CHECK(expected);
    FUZZ_CHECK(data.offsets.size() == std::size_t{data.header.numStrings} + 1);
    const std::string encoded = encodeStrfile(data);
    FUZZ_CHECK(encoded == withPaddingZeroed(bytes));
    FUZZ_CHECK(decodeStrfile(encoded) == data);
    // Against a text as long as the largest offset, and one byte shorter. Such a text can hold
    // only so many fortunes, and a table in text order lists no empty one: its offsets
    // increase strictly.
    const std::uint32_t largest = *std::max_element(data.offsets.begin(), data.offsets.end());
    const bool inTextOrder =
        (data.header.flags & (StrfileHeader::ordered | StrfileHeader::random)) == 0;
    const bool increasing = std::adjacent_find(data.offsets.begin(), data.offsets.end(),
                                               [](std::uint32_t a, std::uint32_t b) {
                                                 return b <= a;
                                               }) == data.offsets.end();
    const bool fits =
        data.header.numStrings <= maxStrfileStrings(largest) && (!inTextOrder || increasing);
    FUZZ_CHECK(onlyThrows<IOError>([&] { checkStrfile(data, largest); }) == fits);
    if (fits && largest > 0) {
      FUZZ_CHECK(!onlyThrows<IOError>([&] { checkStrfile(data, largest - 1); }));
    }
  } catch (const IOError& e) {
    FUZZ_CHECK(!expected);
    FUZZ_CHECK(e.isUserError());
  }
}

bool holdsDelimiterLine(std::string_view fortune, char delimiter) {
  for (std::size_t line = 0; line < fortune.size();) {
    const std::size_t newline = fortune.find('\n', line);
    if (newline == line + 1 && fortune[line] == delimiter) return true;
    if (newline == std::string_view::npos) break;
    line = newline + 1;
  }
  return false;
}

void fuzzBuild(std::string_view text, char delimiter, std::uint8_t options) {
  const StrfileOptions plain{delimiter, 0, false};
  const StrfileOptions chosen{delimiter, options & 7u, (options & 8u) != 0};
  const StrfileData data = buildStrfile(text, plain);
  checkStrfile(data, text.size());
  FUZZ_CHECK(data.offsets.back() == text.size());
  for (const StrfileLayout layout :
       {StrfileLayout::Offsets32, StrfileLayout::Offsets64, StrfileLayout::Longs64}) {
    StrfileData laidOut = data;
    laidOut.layout = layout;
    FUZZ_CHECK(decodeStrfile(encodeStrfile(laidOut)) == laidOut);
  }
  for (std::uint32_t i = 0; i < data.header.numStrings; ++i) {
    const StrfileSpan span = locateStrfileFortune(data, i, text);
    FUZZ_CHECK(span.offset == data.offsets[i] && span.offset + span.length <= text.size());
    FUZZ_CHECK(span.length >= data.header.shortestLength &&
               span.length <= data.header.longestLength);
    // A delimiter line separates it from the next fortune.
    const std::uint64_t end = span.offset + span.length;
    FUZZ_CHECK(span.length > 0 &&
               (i + 1 == data.header.numStrings || end + 2 <= data.offsets[i + 1]));
    FUZZ_CHECK(!holdsDelimiterLine(text.substr(span.offset, span.length), delimiter));
  }

  const StrfileData other = buildStrfile(text, chosen);
  checkStrfile(other, text.size());
  FUZZ_CHECK(decodeStrfile(encodeStrfile(other)) == other);
  std::vector<std::uint32_t> sorted = other.offsets;
  std::sort(sorted.begin(), sorted.end());
  FUZZ_CHECK(sorted == data.offsets);
  FUZZ_CHECK(other.header.numStrings == data.header.numStrings &&
             other.header.longestLength == data.header.longestLength &&
             other.header.shortestLength == data.header.shortestLength);
}

}  // namespace
}  // namespace tallowmere::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tallowmere;
  using namespace tallowmere::fuzz;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  onlyThrows<>([&] { fuzzDecode(bytes); });

  Controls controls(data, size);
  static constexpr char kDelimiters[] = {'%', '#', '\n', 'a', '\0', '%', '%', '%'};
  const char delimiter = kDelimiters[controls.byte() % 8];
  const std::uint8_t options = controls.byte();
  onlyThrows<>([&] { fuzzBuild(controls.rest(), delimiter, options); });
  return 0;
}
