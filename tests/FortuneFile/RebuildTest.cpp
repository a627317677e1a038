// Rebuilding an index from the text: the entries of known texts, chunk boundaries, invalid
// UTF-8, agreement with the plain reference scan, and texts too long for the index format.
#include <filesystem>
#include <random>

#include "Data/Fortune/FortuneFile/Scan.hpp"
#include "FortuneFile/Support.hpp"
#include "support/ReferenceScan.hpp"
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

using Entries = std::vector<IndexEntry>;

Entries rebuilt(std::string_view text, char32_t delimiter = '%') {
  auto file = createMemoryFile("text");
  file->write(text);
  const Index index = createVirtualIndex();
  rebuildIndex(delimiter, *file, index);
  return getEntries(index);
}

// The detail scanner with a small chunk size, to put chunk boundaries everywhere.
Entries scannedInChunks(std::string_view text, char32_t delimiter, std::size_t chunkSize) {
  auto file = createMemoryFile("text");
  file->write(text);
  detail::FortuneScanner scanner(delimiter, *file, chunkSize);
  Entries entries;
  while (auto entry = scanner.next()) entries.push_back(*entry);
  return entries;
}

TEST(RebuildIndex, CutsKnownTextsIntoEntries) {
  const std::vector<std::pair<std::string, Entries>> examples = {
      {"A\n%\nB\n", {{0, 1, 1, 1}, {4, 1, 1, 1}}},
      {"A\n%\nB", {{0, 1, 1, 1}, {4, 1, 1, 1}}},
      {"x\ny\n%\nz", {{0, 3, 3, 2}, {6, 1, 1, 1}}},
      {"A\n%\n", {{0, 1, 1, 1}, {4, 0, 0, 1}}},
      {"A\n%\n\n%\nB", {{0, 1, 1, 1}, {4, 0, 0, 1}, {7, 1, 1, 1}}},
      {"A\n%x\n%\n", {{0, 4, 4, 2}, {7, 0, 0, 1}}},
      {"A\n%", {{0, 3, 3, 2}}},
      {"%\nA", {{0, 3, 3, 2}}},
      {"\n%\nA", {{0, 0, 0, 1}, {3, 1, 1, 1}}},
      {"A\n%\n%\nB", {{0, 1, 1, 1}, {4, 3, 3, 2}}},
      {"\n", {{0, 0, 0, 1}}},
      {"", {}},
      {"\xC3\xA9t\xC3\xA9", {{0, 5, 3, 1}}},
      // Invalid sequences count as one character each; one at the very end is left out.
      {"a\xFF" "b", {{0, 3, 3, 1}}},
      {"\xC0\x80|\xE2\x82|\xED\xA0\x80|\xF5\x80\x80\x80|\xF8x", {{0, 17, 10, 1}}},
      {"A\n%\nB\xE2", {{0, 1, 1, 1}, {4, 1, 1, 1}}},
      {"B\xF0\x9F\x98", {{0, 1, 1, 1}}},
      {"B\xEF\xBF\xBD", {{0, 4, 2, 1}}},
  };
  for (const auto& [text, entries] : examples) EXPECT_EQ(rebuilt(text), entries) << text;
  EXPECT_EQ(rebuilt("A\n\xC2\xA7\nB", U'\u00A7'), (Entries{{0, 1, 1, 1}, {5, 1, 1, 1}}));
}

TEST(RebuildIndex, DecodesCharactersAcrossTheChunkBoundary) {
  for (std::string ch : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
    const auto length = static_cast<std::int64_t>(ch.size());
    for (std::int64_t before = 4096 - length + 1; before < 4096; ++before) {
      const std::string text = std::string(static_cast<std::size_t>(before), 'a') + ch + "\n%\nB";
      EXPECT_EQ(rebuilt(text), (Entries{{0, before + length, before + 1, 1},
                                        {before + length + 3, 1, 1, 1}}));
    }
  }
  // A lead byte that ends the first chunk, followed by an ASCII byte, and one that ends the file.
  EXPECT_EQ(rebuilt(std::string(4095, 'a') + "\xE2x"), (Entries{{0, 4097, 4097, 1}}));
  EXPECT_EQ(rebuilt(std::string(4096, 'a') + "\xE2"), (Entries{{0, 4096, 4096, 1}}));
}

// Texts from pieces that make the step machine and the decoder branch a lot.
std::string randomText(std::mt19937& random) {
  static const std::vector<std::string> pieces = {
      "\n", "\n", "%", "%", "\xC2\xA7", "a", "b", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
      "\xFF", "\x80", "\xC0\x80", "\xE2\x82", "\xF0\x9F", "\xED\xA0\x80", "\xF5\x80\x80\x80",
      "\n%\n", "\n\xC2\xA7\n", "\xEF\xBF\xBD"};
  const std::size_t count = random() % 10 == 0 ? 1500 + random() % 2500 : random() % 40;
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += pieces[random() % pieces.size()];
  return text;
}

TEST(RebuildIndex, AgreesWithTheReferenceScan) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 3000; ++round) {
    const std::string text = randomText(random);
    const char32_t delimiter = round % 3 == 0 ? U'\u00A7' : U'%';
    const Entries expected = test::referenceScan(text, delimiter);
    ASSERT_EQ(rebuilt(text, delimiter), expected) << "round " << round;
    const std::size_t chunk = 1 + random() % 7;
    ASSERT_EQ(test::referenceScan(text, delimiter, chunk), expected) << "round " << round;
    if (text.size() < 2000) {
      ASSERT_EQ(scannedInChunks(text, delimiter, chunk), expected) << "round " << round;
    }
  }
}

TEST(RebuildIndex, RefusesTextsLongerThanAnIndexCanAddress) {
  test::TempDir dir;
  const std::string path = dir.writeFile("big", "A\n%\nB\n");
  FortuneFile file = openFortuneFile('%', true, path);
  rebuildIndex(file);
  const std::string index = dir.readFile("big.ix");
  // A sparse file: no disk space is used for the gap.
  std::filesystem::resize_file(path, 4294967296);
  for (auto change : {+[](const FortuneFile& f) { rebuildIndex(f); },
                      +[](const FortuneFile& f) { appendFortune(f, "C"); }}) {
    try {
      change(file);
      FAIL();
    } catch (const IOError& e) {
      EXPECT_TRUE(e.isUserError());
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("4294967295"), std::string::npos) << e.what();
    }
    EXPECT_EQ(dir.readFile("big.ix"), index);
    EXPECT_EQ(std::filesystem::file_size(path), 4294967296u);
  }
}

}  // namespace
}  // namespace tallowmere
