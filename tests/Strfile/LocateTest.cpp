// Finding a fortune of strfile data in its text, as `fortune` prints it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune/Strfile.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include <tallowmere/Platform/MemoryEnv.hpp>
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

std::string fortuneText(const StrfileData& data, std::uint32_t number, std::string_view text) {
  const StrfileSpan span = locateStrfileFortune(data, number, text);
  return std::string(text.substr(span.offset, span.length));
}

TEST(StrfileLocate, FortunesEndBeforeTheirDelimiterLine) {
  const std::string_view text = "%\nPond\n%x\n%\n%\nHeron\n\n%\nReeds\n%";
  const StrfileData data = buildStrfile(text);
  ASSERT_EQ(data.header.numStrings, 3u);
  EXPECT_EQ(fortuneText(data, 0, text), "Pond\n%x\n");
  EXPECT_EQ(fortuneText(data, 1, text), "Heron\n\n");
  // A delimiter without a newline at the end of the text is content.
  EXPECT_EQ(fortuneText(data, 2, text), "Reeds\n%");

  auto file = createMemoryFile("pond");
  file->write(text);
  EXPECT_EQ(locateStrfileFortune(data, 2, *file), (StrfileSpan{23, 7}));
}

TEST(StrfileLocate, LinesCountFromTheOffsetAsFortuneReadsThem) {
  // Offsets as another program may have written them: mid-line, at the end, past the end.
  const std::string_view text = "ab%\ncd\n%\nef\n";
  StrfileData data;
  data.header.numStrings = 4;
  data.header.flags = StrfileHeader::random;
  data.offsets = {2, 0, 12, 13, 12};
  EXPECT_EQ(locateStrfileFortune(data, 0, text), (StrfileSpan{2, 0}));
  EXPECT_EQ(locateStrfileFortune(data, 1, text), (StrfileSpan{0, 7}));
  EXPECT_EQ(locateStrfileFortune(data, 2, text), (StrfileSpan{12, 0}));
  try {
    (void)locateStrfileFortune(data, 3, text);
    FAIL() << "located";
  } catch (const IOError& e) {
    EXPECT_STREQ(e.what(),
                 "locateStrfileFortune: fortune 3 starts at byte 13, past the end of the text "
                 "(12 bytes)");
  }
  EXPECT_THROW((void)locateStrfileFortune(data, 4, text), IOError);
}

TEST(StrfileLocate, Rot13TurnsOnlyAsciiLetters) {
  EXPECT_EQ(rot13("Uryyb, Jbeyq! 123 \xc3\xa9 [z]"), "Hello, World! 123 \xc3\xa9 [m]");
  EXPECT_EQ(rot13("AZaz@[`{"), "NMnm@[`{");
}

TEST(StrfileRead, ReadsAClassicFileThroughItsDataFileOnlyWhenTheDataFileFitsTheText) {
  MemoryEnv env;
  const std::string text = rot13("First one\n%\nSecond\non two lines\n%\n");
  const auto put = [&](const std::string& path, const std::string& bytes) {
    env.openFile(path, OpenMode::Truncate)->writeAt(0, bytes);
  };
  put("rude", text);
  const std::string data = encodeStrfile(buildStrfile(text, {'%', StrfileHeader::rotated, false}));
  put("rude.dat", data);
  const std::optional<StrfileData> read = readStrfileFor("rude.dat", "rude", env);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(readStrfileHeader("rude.dat", env), read->header);
  const auto file = env.openFile("rude", OpenMode::ReadOnly);
  EXPECT_EQ(strfileFortune(*read, 1, *file), "Second\non two lines");
  EXPECT_EQ(strfileEntries(*read, *file), (std::vector<IndexEntry>{{0, 9, 9, 1}, {12, 19, 19, 2}}));
  std::vector<std::string> visited;
  forEachStrfileFortune(*read, *file, [&](std::uint32_t number, std::string_view bytes) {
    EXPECT_EQ(number, visited.size());
    visited.emplace_back(bytes);
  });
  EXPECT_EQ(visited, (std::vector<std::string>{"First one", "Second\non two lines"}));
  // Damaged, or describing more text than there is: no data file to read through.
  put("rude.dat", data.substr(0, data.size() - 1));
  EXPECT_FALSE(readStrfileHeader("rude.dat", env));
  EXPECT_FALSE(readStrfileFor("rude.dat", "rude", env));
  put("rude.dat", data);
  put("rude", text.substr(0, 20));
  EXPECT_TRUE(readStrfileHeader("rude.dat", env));
  EXPECT_FALSE(readStrfileFor("rude.dat", "rude", env));
  // A count the text cannot hold (more than (S + 2) / 3 fortunes in S bytes) is refused from
  // the header, before the table is read.
  put("rude", "x\n%\ny\n");
  EXPECT_TRUE(readStrfileHeader("rude.dat", env));
  put("rude", "x");
  EXPECT_FALSE(readStrfileHeader("rude.dat", env));
  EXPECT_FALSE(readStrfileFor("rude.dat", "rude", env));
  EXPECT_TRUE(readStrfileHeader("rude.dat", 4, env));
  EXPECT_FALSE(readStrfileHeader("rude.dat", 3, env));
}

// A data file of 268 million fortunes for a text of 24 bytes, sparse on disk: refused at once.
TEST(StrfileRead, AHugeCountCostsNeitherTimeNorMemory) {
  const test::TempDir dir;
  const std::string text = dir.writeFile("t", "First one\n%\nSecond one\n");
  std::string header;
  for (const std::uint32_t field : {2u, 268435455u, 10u, 9u, 0u}) {
    for (int shift = 24; shift >= 0; shift -= 8)
      header.push_back(static_cast<char>(field >> shift));
  }
  header += std::string("%\0\0\0", 4);
  const std::string data = dir.writeFile("t.dat", header);
  std::filesystem::resize_file(data, strfileHeaderLength + std::uint64_t{4} * 268435456);
  EXPECT_FALSE(readStrfileHeader(data));
  EXPECT_FALSE(readStrfileFor(data, text));
}

}  // namespace
}  // namespace tallowmere
