// Reading fortunes by number through the index, and all at once from the text.
#include <cerrno>
#include <filesystem>

#include "Collection/CollectionSupport.hpp"
#include "FortuneFile/Support.hpp"
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

using test::messageOf;
using test::TempDir;
using Pieces = std::vector<std::string>;

class FortuneFileRead : public ::testing::Test {
 protected:
  TempDir dir;

  FortuneFile readOnly(std::string_view bytes, char32_t delimiter = '%') {
    return openFortuneFile(delimiter, false, dir.writeFile("f", bytes));
  }
};

TEST_F(FortuneFileRead, ReadsByNumberAndAllAtOnce) {
  FortuneFile file = readOnly("A\n%\nB\n");
  EXPECT_EQ(getNumFortunes(file), 2);
  EXPECT_EQ(getFortunes(file), (Pieces{"A", "B\n"}));
  // The text handle stays open after reading everything, and serves reads by number.
  EXPECT_EQ(getFortune(file, 0), "A");
  EXPECT_EQ(getFortune(file, 1), "B");
  for (std::int64_t bad : {2, -1}) {
    EXPECT_EQ(messageOf<IOError>([&] { (void)getFortune(file, bad); }),
              "getEntry: index out of range: " + std::to_string(bad));
  }
}

TEST_F(FortuneFileRead, InvalidUtf8IsReplacedByNumberAndRefusedAllAtOnce) {
  // A lone continuation byte, an overlong form and a truncated sequence: one U+FFFD each.
  FortuneFile file = readOnly("ok\x80\xC0\x80\xE2\x82!\n%\n\xEF\xBF\xBD\n");
  EXPECT_EQ(getFortune(file, 0), "ok\uFFFD\uFFFD\uFFFD!");
  EXPECT_EQ(getFortune(file, 1), "\uFFFD");
  try {
    (void)getFortunes(file);
    FAIL();
  } catch (const IOError& e) {
    EXPECT_EQ(e.errorCode(), EILSEQ);
  }
  EXPECT_EQ(getFortunes(readOnly("\uFFFD\n")), Pieces{"\uFFFD\n"});
}

TEST_F(FortuneFileRead, SplitsAtEverySeparatorWithoutOverlap) {
  EXPECT_EQ(getFortunes(readOnly("")), Pieces{""});
  EXPECT_EQ(getFortunes(readOnly("A\n%\n")), (Pieces{"A", ""}));
  EXPECT_EQ(getFortunes(readOnly("A\n%\n%\nB")), (Pieces{"A", "%\nB"}));
  EXPECT_EQ(getFortunes(readOnly("A\n\xC2\xA7\nB\n%\nC", U'\u00A7')), (Pieces{"A", "B\n%\nC"}));
}

TEST_F(FortuneFileRead, FortuneCutShortByTheTextEndsThere) {
  const std::string path = dir.writeFile("w", "A\n%\nBCDEF\n");
  FortuneFile file = openFortuneFile('%', true, path);
  rebuildIndex(file);
  std::filesystem::resize_file(path, 6);
  EXPECT_EQ(getFortune(file, 1), "BC");
}

TEST_F(FortuneFileRead, VisitsEveryFortuneWithTheBytesGetFortuneReads) {
  // Short fortunes, one longer than the pieces the text is read in, and bytes that are not
  // UTF-8, which the visit hands over as they stand.
  std::vector<std::string> fortunes;
  for (int i = 0; i < 5000; ++i) fortunes.push_back("saying " + std::to_string(i));
  fortunes[4000] = std::string(3 << 20, 'x');
  fortunes[4001] = "caf\xC3\xA9 \xFF";
  const std::string path = dir.writeFile("many", test::fortuneText(fortunes));
  const FortuneFile file = openFortuneFile('%', true, path);
  rebuildIndex(file);
  std::int64_t next = 0;
  forEachFortune(file, [&](std::int64_t i, const IndexEntry& entry, std::string_view bytes) {
    ASSERT_EQ(i, next++);
    EXPECT_EQ(bytes, fortunes[static_cast<std::size_t>(i)]);
    EXPECT_EQ(entry.stringBytes, static_cast<std::int64_t>(bytes.size()));
  });
  EXPECT_EQ(next, 5000);
  EXPECT_EQ(getFortune(file, 4001), "caf\xC3\xA9 \xEF\xBF\xBD");
}

// Entries under a plausible header that cannot be fortunes of the text: each is found before
// its text is served, and the text is read through an index of its own instead. A writer
// rebuilds such an index file before it appends, where the table alone shows the fault.
TEST_F(FortuneFileRead, EntriesWrongForTheTextAreNeverServed) {
  const std::string text = "alpha\n%\nbeta\n%\ngamma\n";
  const std::vector<IndexEntry> sound = {{0, 5, 5, 1}, {8, 4, 4, 1}, {15, 5, 5, 1}};
  const std::vector<std::vector<IndexEntry>> wrong = {
      {{0, 5, 5, 1}, {800, 4, 4, 1}, {15, 5, 5, 1}},  // past the end of the text
      {{0, 20, 20, 5}, {8, 4, 4, 1}, {15, 5, 5, 1}},  // over the next ones
      {{8, 4, 4, 1}, {0, 5, 5, 1}, {15, 5, 5, 1}},    // out of order
      {{0, 12, 12, 3}, {15, 5, 5, 1}},                // holding a delimiter line
  };
  for (const std::vector<IndexEntry>& entries : wrong) {
    const bool inOrder = &entries == &wrong.back();
    const std::string path = dir.writeFile("f", text);
    dir.writeFile("f.ix", test::indexBytes(entries, -1, 20));
    const FortuneFile reader = openFortuneFile('%', false, path);
    EXPECT_EQ(getFortune(reader, 0), "alpha");
    Pieces visited;
    forEachFortune(reader, [&](std::int64_t, const IndexEntry&, std::string_view bytes) {
      visited.emplace_back(bytes);
    });
    EXPECT_EQ(visited, (Pieces{"alpha", "beta", "gamma"}));
    EXPECT_NE(checkIndexFile(reader).state, IndexFileState::Sound);
    // Only reading a fortune's text shows the delimiter line it holds.
    if (inOrder) continue;
    EXPECT_EQ(getEntries(openFortuneFile('%', false, path)), sound);
    appendFortune(openFortuneFile('%', true, path), "delta");
    EXPECT_EQ(checkIndexFile(reader).state, IndexFileState::Sound);
    EXPECT_EQ(getFortune(openFortuneFile('%', false, path), 3), "delta");
  }
}

}  // namespace
}  // namespace tallowmere
