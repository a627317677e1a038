// Fuzz target: the index rebuild over arbitrary bytes with an arbitrary delimiter.
//
// The first bytes of the input choose the delimiter (mostly '%', often a multibyte character
// or U+FFFD, sometimes any Unicode scalar value) and a small chunk size; the rest is the text.
// The rebuild into a virtual index must refuse a newline delimiter and otherwise not fail,
// and its entries must
//  - lie in the text in order: non-decreasing offsets, each fortune inside the text;
//  - decode on their own: the fortune's bytes hold stringChars characters and
//    stringLines - 1 newlines, so no entry cuts a character in two;
//  - equal the entries of the plain reference scan of the tests;
// and the scanner reading the text in tiny chunks must give the same entries, also when worker
// threads scan it in small segments.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include "Data/Fortune/FortuneFile/Scan.hpp"
#include "FuzzSupport.hpp"
#include "support/ReferenceScan.hpp"

namespace tallowmere::fuzz {
namespace {

using Entries = std::vector<IndexEntry>;

char32_t chooseDelimiter(Controls& in) {
  static constexpr char32_t kSpecial[] = {U'\u00A7', U'\u2014', U'\U0001F600', U'\uFFFD',
                                          U'\n',     U'\u0080', U'\uFEFF',     U'\U0010FFFF'};
  const std::uint8_t choice = in.byte();
  if (choice < 128) return U'%';
  if (choice < 192) return kSpecial[choice % std::size(kSpecial)];
  if (choice < 224) return in.byte() & 0x7F;
  // Any scalar value: a code point below 0x110000 that is not a surrogate.
  char32_t value = (in.u32() >> 8) % 0x110000;
  if (value >= 0xD800 && value < 0xE000) value -= 0x800;
  return value;
}

std::string hex(char32_t value) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(value));
  return digits;
}

std::unique_ptr<File> memoryText(std::string_view text) {
  auto file = createMemoryFile("fuzz text");
  file->write(text);
  return file;
}

void checkEntriesDecode(std::string_view text, const Entries& entries) {
  const std::string scan = failureContext;
  std::int64_t previousOffset = 0;
  for (const IndexEntry& entry : entries) {
    FUZZ_CHECK(entry.stringOffset >= previousOffset);
    FUZZ_CHECK(entry.stringBytes >= 0 && entry.stringChars >= 0 && entry.stringLines >= 1);
    FUZZ_CHECK(entry.stringOffset + entry.stringBytes <= static_cast<std::int64_t>(text.size()));
    previousOffset = entry.stringOffset;
    failureContext = scan + "; checking " + show(entry);

    std::string_view bytes = text.substr(static_cast<std::size_t>(entry.stringOffset),
                                         static_cast<std::size_t>(entry.stringBytes));
    std::int64_t chars = 0, newlines = 0;
    while (!bytes.empty()) {
      const test::RefChar c = test::referenceDecode(bytes);
      bytes.remove_prefix(static_cast<std::size_t>(c.length));
      chars += 1;
      newlines += c.value == U'\n' ? 1 : 0;
    }
    FUZZ_CHECK(chars == entry.stringChars);
    FUZZ_CHECK(newlines + 1 == entry.stringLines);
  }
}

void fuzzRebuild(const std::uint8_t* data, std::size_t size) {
  Controls controls(data, size);
  const char32_t delimiter = chooseDelimiter(controls);
  const std::size_t chunkSize = 1 + controls.byte() % 16;
  const std::string_view text = controls.rest();
  failureContext = "rebuilding " + std::to_string(text.size()) + " bytes with the delimiter U+" +
                   hex(delimiter) + " and a scan chunk of " + std::to_string(chunkSize) + " bytes";

  const auto textFile = memoryText(text);
  const Index index = createVirtualIndex();
  if (delimiter == U'\n') {
    // A newline cannot separate fortunes: the rebuild refuses it before touching anything.
    bool refused = false;
    try {
      rebuildIndex(delimiter, *textFile, index);
    } catch (const UsageError&) {
      refused = true;
    }
    FUZZ_CHECK(refused && getStats(index) == FortuneStats::mempty);
    return;
  }
  rebuildIndex(delimiter, *textFile, index);
  const Entries entries = getEntries(index);
  FUZZ_CHECK(getStats(index).numFortunes == static_cast<std::int64_t>(entries.size()));
  FUZZ_CHECK(checkIndex(index) == std::nullopt);

  const Entries reference = test::referenceScan(text, delimiter);
  FUZZ_CHECK(entries == reference);

  const auto chunkedFile = memoryText(text);
  detail::FortuneScanner scanner(delimiter, *chunkedFile, chunkSize);
  Entries chunked;
  while (const std::optional<IndexEntry> entry = scanner.next()) chunked.push_back(*entry);
  FUZZ_CHECK(chunked == reference);

  // Two workers scanning segments of 64 to 256 bytes, joined by the reader.
  const std::size_t segmentSize = 64 * (1 + chunkSize % 4);
  detail::FortuneScanner segmented(delimiter, *chunkedFile, chunkSize, {2, segmentSize, 0});
  Entries joined;
  for (auto batch = segmented.nextBatch(); !batch.empty(); batch = segmented.nextBatch()) {
    joined.insert(joined.end(), batch.begin(), batch.end());
  }
  FUZZ_CHECK(joined == reference);

  checkEntriesDecode(text, entries);
  closeIndex(index);
}

}  // namespace
}  // namespace tallowmere::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tallowmere::fuzz::onlyThrows<>([&] { tallowmere::fuzz::fuzzRebuild(data, size); });
  return 0;
}
