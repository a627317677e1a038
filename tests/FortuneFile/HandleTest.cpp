// Opening and closing fortune files, the states of their cells, and the in-memory index of a
// read-only fortune file whose index file cannot be used.
#include <filesystem>

#include "Data/Fortune/Index/State.hpp"
#include "FortuneFile/Support.hpp"
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

using test::entriesOf;
using test::messageOf;
using test::TempDir;

class FortuneFileHandle : public ::testing::Test {
 protected:
  TempDir dir;
  std::string text = dir.writeFile("jokes", "A\n%\nB\n");
  std::string ix = text + ".ix";

  // Gives `path` an index file of `text` that lists its fortunes.
  void indexOnDisk(const std::string& path) {
    FortuneFile file = openFortuneFile('%', true, path);
    rebuildIndex(file);
    closeFortuneFile(file);
  }
};

TEST_F(FortuneFileHandle, ReadOnlyOpenNeedsAnExistingFile) {
  for (const std::string& path : {dir.path("missing"), dir.path()}) {
    const std::string message =
        messageOf<IOError>([&] { (void)openFortuneFile('%', false, path); });
    EXPECT_EQ(message, "openFortuneFile: file does not exist: \"" + path + "\"");
  }
  const std::string odd = dir.path(
      "q\"\\\xC3\xA9"
      "1\n");
  EXPECT_EQ(messageOf<IOError>([&] { (void)openFortuneFile('%', false, odd); }),
            "openFortuneFile: file does not exist: \"" + dir.path() + "/q\\\"\\\\\\233\\&1\\n\"");
  EXPECT_FALSE(std::filesystem::exists(dir.path("missing")));
}

TEST_F(FortuneFileHandle, OpeningCreatesNothingAndPathsFollowTheGivenPath) {
  FortuneFile file = openFortuneFile('%', true, "rel/b.txt");
  EXPECT_EQ(fortuneFilePath(file), "rel/b.txt");
  EXPECT_EQ(fortuneIndexPath(file), "rel/b.txt.ix");
  EXPECT_EQ(fortuneIndexPath(openFortuneFile('%', false, text)), ix);
  EXPECT_FALSE(std::filesystem::exists("rel"));
  EXPECT_THROW((void)openFortuneFile('\n', true, text), UsageError);
  EXPECT_THROW((void)openFortuneFile(0xD800, true, text), UsageError);
  EXPECT_THROW(rebuildIndex(U'\n', *createMemoryFile("text"), createVirtualIndex()), UsageError);
}

TEST_F(FortuneFileHandle, ClosedFileRefusesEveryOperation) {
  FortuneFile unused = openFortuneFile('%', true, dir.path("new"));
  closeFortuneFile(unused);
  EXPECT_FALSE(std::filesystem::exists(dir.path("new")));
  FortuneFile used = openFortuneFile('%', false, text);
  const Index index = getIndex(used);
  EXPECT_EQ(getFortune(used, 1), "B");
  closeFortuneFile(used);
  EXPECT_THROW((void)getStats(index), IndexProblemError);
  for (const FortuneFile& file : {unused, used}) {
    const std::vector<std::function<void()>> uses = {
        [&] { closeFortuneFile(file); },     [&] { (void)getIndex(file); },
        [&] { (void)getNumFortunes(file); }, [&] { (void)getFortune(file, 0); },
        [&] { (void)getFortunes(file); },    [&] { appendFortune(file, "C"); },
        [&] { rebuildIndex(file); }};
    for (const auto& use : uses) EXPECT_EQ(messageOf<UsageError>(use), "Fortune file is closed");
  }
}

TEST_F(FortuneFileHandle, FailedFirstUseLeavesTheCellToBeOpenedAgain) {
  FortuneFile file = openFortuneFile('%', true, dir.path("sub/new"));
  EXPECT_THROW((void)getNumFortunes(file), IOError);
  EXPECT_THROW((void)getFortunes(file), IOError);
  std::filesystem::create_directory(dir.path("sub"));
  EXPECT_EQ(getNumFortunes(file), 0);
  EXPECT_EQ(getFortunes(file), std::vector<std::string>{""});
  EXPECT_TRUE(std::filesystem::exists(dir.path("sub/new.ix")));
}

TEST_F(FortuneFileHandle, IndexObtainedByAFailedUseIsKept) {
  // The first use builds the index in memory and fails on the number; the index stays.
  FortuneFile file = openFortuneFile('%', false, text);
  EXPECT_THROW((void)getFortune(file, 5), IOError);
  dir.writeFile("jokes", "A\n%\nB\n%\nC\n");
  EXPECT_EQ(getNumFortunes(file), 2);
  // Likewise an index file, which then stays what it was when opened.
  indexOnDisk(text);
  FortuneFile indexed = openFortuneFile('%', false, text);
  EXPECT_THROW((void)getFortune(indexed, 5), IOError);
  const std::string other = dir.writeFile("other", "x\n");
  indexOnDisk(other);
  std::filesystem::rename(other + ".ix", ix);
  EXPECT_EQ(getNumFortunes(indexed), 3);
}

TEST_F(FortuneFileHandle, ReadOnlyFileWithoutIndexFileIsIndexedInMemory) {
  FortuneFile file = openFortuneFile('%', false, text);
  const Index first = getIndex(file);
  EXPECT_EQ(getEntries(first), (std::vector<IndexEntry>{{0, 1, 1, 1}, {4, 1, 1, 1}}));
  dir.writeFile("jokes", "A\n%\nB\n%\nC\n");
  EXPECT_EQ(&detail::IndexAccess::state(getIndex(file)), &detail::IndexAccess::state(first));
  EXPECT_EQ(getNumFortunes(file), 2);
  // Rebuilding reuses the open text handle it already holds, and stays in memory.
  rebuildIndex(file);
  EXPECT_EQ(getNumFortunes(file), 3);
  EXPECT_FALSE(std::filesystem::exists(ix));

  // The same happens when the very first use is a rebuild.
  FortuneFile again = openFortuneFile('%', false, text);
  rebuildIndex(again);
  EXPECT_EQ(getNumFortunes(again), 3);
  EXPECT_FALSE(std::filesystem::exists(ix));
}

TEST_F(FortuneFileHandle, DamagedIndexFileIsReplacedInMemoryOnlyWhenReadOnly) {
  const std::string damaged(64, 'x');
  dir.writeFile("jokes.ix", damaged);
  EXPECT_EQ(entriesOf(openFortuneFile('%', false, text)).size(), 2u);
  FortuneFile writable = openFortuneFile('%', true, text);
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_THROW((void)getNumFortunes(writable), HeaderProblemError);
  }
  EXPECT_EQ(dir.readFile("jokes.ix"), damaged);
}

TEST_F(FortuneFileHandle, AnIndexReachingPastTheTextIsNeverUsedToReadIt) {
  dir.writeFile("jokes", "A\n%\nB\n%\nC\n");
  indexOnDisk(text);
  const std::string stale = dir.readFile("jokes.ix");
  dir.writeFile("jokes", "A\n%\nBB\n");  // cut behind the index's back
  // A reader indexes the text in memory and leaves the index file alone.
  FortuneFile reader = openFortuneFile('%', false, text);
  EXPECT_EQ(getNumFortunes(reader), 2);
  EXPECT_EQ(getFortune(reader, 1), "BB");
  EXPECT_EQ(dir.readFile("jokes.ix"), stale);
  // A handle that opened the index before the text was cut finds out when it reads.
  dir.writeFile("jokes", "A\n%\nB\n%\nC\n");
  indexOnDisk(text);  // written after the text again, so that it is no older
  FortuneFile early = openFortuneFile('%', false, text);
  EXPECT_EQ(getNumFortunes(early), 3);
  dir.writeFile("jokes", "A\n%\nBB\n");
  EXPECT_EQ(getFortune(early, 1), "BB");
  EXPECT_THROW((void)getFortune(early, 2), IOError);
  // A writer rebuilds the index file.
  dir.writeFile("jokes.ix", stale);
  EXPECT_EQ(getNumFortunes(openFortuneFile('%', true, text)), 2);
  EXPECT_EQ(getStats(openIndex(ix, false)).numFortunes, 2);
}

// A text of S bytes holds at most S / 3 + 1 fortunes with the delimiter %: separators alone,
// each enclosing an empty fortune. A header that claims more is not believed, nor one that
// claims none over a text that has some.
TEST_F(FortuneFileHandle, AnIndexCountingMoreFortunesThanTheTextCanHoldIsNotUsed) {
  const auto usesIndexFile = [&](const std::string& index) {
    dir.writeFile("jokes.ix", index);
    const FortuneFile file = openFortuneFile('%', false, text);
    return !detail::indexPath(getIndex(file)).empty();
  };
  dir.writeFile("jokes", "\n%\n\n%\n");
  indexOnDisk(text);
  const std::vector<IndexEntry> densest = entriesOf(openFortuneFile('%', false, text));
  ASSERT_EQ(densest.size(), 3u);
  EXPECT_TRUE(usesIndexFile(test::indexBytes(densest)));
  EXPECT_FALSE(usesIndexFile(test::indexBytes(densest, 4)));

  dir.writeFile("jokes", "alpha\n%\nbeta\n%\ngamma\n");
  const std::vector<IndexEntry> three = {{0, 5, 5, 1}, {8, 4, 4, 1}, {15, 5, 5, 1}};
  for (const std::int64_t count : {0, 1000}) {
    dir.writeFile("jokes.ix", test::indexBytes(three, count));
    FortuneFile reader = openFortuneFile('%', false, text);
    EXPECT_EQ(getNumFortunes(reader), 3);
    EXPECT_EQ(getFortune(reader, 2), "gamma");
  }
  // A writer rebuilds the index file.
  EXPECT_EQ(getNumFortunes(openFortuneFile('%', true, text)), 3);
  EXPECT_EQ(getStats(openIndex(ix, false)).numFortunes, 3);
}

TEST_F(FortuneFileHandle, FailedFallbackReportsWhyTheIndexFileWasUnusable) {
  FortuneFile file = openFortuneFile('%', false, text);
  std::filesystem::remove(text);
  try {
    (void)getNumFortunes(file);
    FAIL();
  } catch (const IOError& e) {
    EXPECT_EQ(e.path(), ix);
  }
}

}  // namespace
}  // namespace tallowmere
