// Fuzz target: strfile data files, decoded from arbitrary bytes and built from arbitrary texts.
//
// decodeStrfile must decode exactly the inputs of 24 bytes or more with version 1 or 2, a
// table of numStrings + 1 offsets filling the rest, and offsets that do not decrease unless
// the ordered or random flag is set; anything else is the user-error IOError. Decoded data
// encodes back to the input (padding zeroed) and decodes equal.
//
// The input, after two control bytes (delimiter and options), is also taken as a text:
// buildStrfile's data must pass checkStrfile and round-trip, ordering must only permute the
// fortunes, and each fortune located must lie in the text, hold no delimiter line and have a
// length between the header's shortest and longest.
#include <tallowmere/Data/Fortune/Strfile.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
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

bool decodable(std::string_view bytes) {
  if (bytes.size() < strfileHeaderLength) return false;
  const std::uint32_t version = bigEndian32(bytes, 0);
  if (version != 1 && version != 2) return false;
  const std::uint64_t entries = std::uint64_t{bigEndian32(bytes, 4)} + 1;
  if (bytes.size() - strfileHeaderLength != entries * 4) return false;
  if ((bigEndian32(bytes, 16) & (StrfileHeader::ordered | StrfileHeader::random)) != 0) return true;
  for (std::size_t at = strfileHeaderLength + 4; at < bytes.size(); at += 4) {
    if (bigEndian32(bytes, at) < bigEndian32(bytes, at - 4)) return false;
  }
  return true;
}

void fuzzDecode(std::string_view bytes) {
  const bool expected = decodable(bytes);
  try {
    const StrfileData data = decodeStrfile(bytes);
    FUZZ_CHECK(expected);
    FUZZ_CHECK(data.offsets.size() == std::size_t{data.header.numStrings} + 1);
    const std::string encoded = encodeStrfile(data);
    std::string padded(bytes);
    padded.replace(21, 3, 3, '\0');
    FUZZ_CHECK(encoded == padded);
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
  FUZZ_CHECK(decodeStrfile(encodeStrfile(data)) == data);
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
