// The entry table: reading, appending, clearing, checks and statistics rebuild.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>
#include <vector>

#include <tallowmere/Data/Fortune/Index.hpp>
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

using test::TempDir;

// Cuts the file behind the index's back.
void cutFile(const std::string& path, std::int64_t size) {
  openFile(path, OpenMode::ReadWrite)->setSize(size);
}

std::vector<IndexEntry> someEntries(int count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<IndexEntry> entries;
  std::int64_t offset = 0;
  for (int i = 0; i < count; ++i) {
    const std::int64_t bytes = random() % 300;
    entries.push_back({offset, bytes, bytes - bytes / 7, 1 + bytes / 40});
    offset += bytes + 3;
  }
  return entries;
}

FortuneStats statsOf(const std::vector<IndexEntry>& entries) {
  FortuneStats stats = FortuneStats::mempty;
  for (const IndexEntry& e : entries) stats += indexEntryStats(e);
  return stats;
}

class IndexEntries : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.path("e.ix");
  Index index = openIndex(path, true);
};

TEST_F(IndexEntries, ReadsByNumberWithinRange) {
  const auto entries = someEntries(5, 1);
  appendEntries(index, entries);
  EXPECT_EQ(getEntry(index, 4), entries[4]);
  EXPECT_EQ(getEntry(index, 0), entries[0]);
  for (std::int64_t bad : {5, -1}) {
    try {
      (void)getEntry(index, bad);
      FAIL() << bad;
    } catch (const IOError& e) {
      EXPECT_TRUE(e.isUserError());
      EXPECT_EQ(e.what(), "getEntry: index out of range: " + std::to_string(bad));
    }
  }
}

TEST_F(IndexEntries, AppendWritesAfterTheTableAndCombinesStatistics) {
  EXPECT_TRUE(getEntries(index).empty());
  appendEntry(index, {0, 42, 40, 3});
  EXPECT_EQ(getStats(index), (FortuneStats{1, 42, 40, 40, 3, 3}));
  const std::string bytes = dir.readFile("e.ix");
  EXPECT_EQ(bytes.size(), 80u);
  EXPECT_EQ(bytes.substr(64), encodeIndexEntry({0, 42, 40, 3}));
  EXPECT_EQ(decodeHeader(bytes).stats, getStats(index));
}

TEST_F(IndexEntries, AppendToExistingStatistics) {
  // Three entries whose statistics are {3, 100, 10, 50, 1, 4}.
  appendEntries(index, std::vector<IndexEntry>{{0, 40, 10, 1}, {41, 50, 50, 4}, {92, 8, 20, 2}});
  ASSERT_EQ(getStats(index), (FortuneStats{3, 100, 10, 50, 1, 4}));
  appendEntry(index, {100, 20, 18, 2});
  EXPECT_EQ(getStats(index), (FortuneStats{4, 120, 10, 50, 1, 4}));
}

TEST_F(IndexEntries, EmptyAppendTouchesNothing) {
  const std::string before = dir.readFile("e.ix");
  appendEntries(index, {});
  unfoldEntries(index, [] { return std::optional<IndexEntry>(); });
  EXPECT_EQ(dir.readFile("e.ix"), before);
  EXPECT_EQ(getStats(index), FortuneStats::mempty);
}

TEST_F(IndexEntries, InvalidAppendLeavesTheHeaderAsItWas) {
  try {
    appendEntry(index, {0, 10, -1, 1});
    FAIL();
  } catch (const StatsProblemError& e) {
    EXPECT_EQ(e.statsProblem(), StatsProblem::NegativeLength(-1));
  }
  EXPECT_EQ(getStats(index), FortuneStats::mempty);
  EXPECT_EQ(decodeHeader(dir.readFile("e.ix")), decodeHeader(encodeHeader(emptyHeader)));
  appendEntry(index, {0, 10, 9, 1});  // the stray entry is overwritten
  EXPECT_EQ(getEntries(index), (std::vector<IndexEntry>{{0, 10, 9, 1}}));
}

TEST_F(IndexEntries, UnfoldWritesEveryGeneratedEntryInOrder) {
  const auto entries = someEntries(700, 2);  // more than two runs of 256
  std::size_t next = 0;
  unfoldEntries(index, [&]() -> std::optional<IndexEntry> {
    if (next == entries.size()) return std::nullopt;
    return entries[next++];
  });
  EXPECT_EQ(getEntries(index), entries);
  EXPECT_EQ(getStats(index), statsOf(entries));
  EXPECT_EQ(getEntries(openIndex(path, false)), entries);
}

TEST_F(IndexEntries, FailingGeneratorLeavesTheHeaderAsItWas) {
  appendEntry(index, {0, 1, 1, 1});
  const std::string header = dir.readFile("e.ix").substr(0, 64);
  int calls = 0;
  EXPECT_THROW(unfoldEntries(index,
                             [&]() -> std::optional<IndexEntry> {
                               if (++calls == 300) throw std::runtime_error("generator failed");
                               return IndexEntry{2, 1, 1, 1};
                             }),
               std::runtime_error);
  EXPECT_EQ(getStats(index).numFortunes, 1);
  EXPECT_EQ(dir.readFile("e.ix").substr(0, 64), header);
  appendEntry(index, {4, 1, 1, 1});
  EXPECT_EQ(getEntries(index), (std::vector<IndexEntry>{{0, 1, 1, 1}, {4, 1, 1, 1}}));
}

TEST_F(IndexEntries, ClearCutsTheFileToTheHeader) {
  appendEntries(index, someEntries(10, 3));
  clearIndex(index);
  EXPECT_EQ(dir.readFile("e.ix"), encodeHeader(emptyHeader));
  EXPECT_TRUE(getEntries(index).empty());
  EXPECT_EQ(checkIndex(index), std::nullopt);
  appendEntry(index, {0, 2, 2, 1});
  EXPECT_EQ(dir.readFile("e.ix").substr(64), encodeIndexEntry({0, 2, 2, 1}));
  // A file cut inside its header behind the index's back gets the whole empty header back.
  // (Also when the header held in memory is the empty one already.)
  const Index empty = openIndex(dir.path("empty.ix"), true);
  cutFile(path, 10);
  cutFile(dir.path("empty.ix"), 10);
  clearIndex(index);
  clearIndex(empty);
  EXPECT_EQ(dir.readFile("e.ix"), encodeHeader(emptyHeader));
  EXPECT_EQ(dir.readFile("empty.ix"), encodeHeader(emptyHeader));
}

TEST_F(IndexEntries, CheckComparesTheTableWithTheFileSize) {
  appendEntries(index, someEntries(10, 4));
  EXPECT_EQ(checkIndex(index), std::nullopt);
  withIndex(index, [](File& file, const CurrentHeader&) {
    file.seek(file.size());
    file.write(std::string(50, 'x'));
  });
  EXPECT_EQ(checkIndex(index), std::nullopt);  // longer files are consistent
  cutFile(path, 223);
  EXPECT_EQ(checkIndex(index), IndexProblem::TableLongerThanFile());
  EXPECT_THROW((void)getEntries(index), IOError);  // the table is cut: too few bytes
}

TEST_F(IndexEntries, ShortTableFailsReadsWithTooFewBytes) {
  appendEntries(index, someEntries(4, 5));
  cutFile(path, 64 + 16 * 3 + 5);
  try {
    (void)getEntry(index, 3);
    FAIL();
  } catch (const IOError& e) {
    EXPECT_NE(std::string(e.what()).find("too few bytes"), std::string::npos);
  }
  // An entry that is still there is read, and then the header check reports the cut table.
  EXPECT_THROW((void)getEntry(index, 0), IndexProblemError);
}

TEST_F(IndexEntries, RebuildStatsRecomputesFromEveryEntry) {
  const auto entries = someEntries(600, 6);
  appendEntries(index, entries);
  // Store statistics that no longer match the table (but are valid on their own).
  withIndex(index, [](File& file, const CurrentHeader& h) {
    file.seek(0);
    file.write(encodeHeader({{600, 5, 1, 2, 1, 1}, h.indexLoc()}));
  });
  const Index reopened = openIndex(path, true);
  EXPECT_EQ(getStats(reopened), (FortuneStats{600, 5, 1, 2, 1, 1}));
  rebuildStats(reopened);
  EXPECT_EQ(getStats(reopened), statsOf(entries));
  EXPECT_EQ(decodeHeader(dir.readFile("e.ix")).stats, statsOf(entries));
}

TEST_F(IndexEntries, RebuildStatsOfMatchingOrEmptyTables) {
  rebuildStats(index);
  EXPECT_EQ(getStats(index), FortuneStats::mempty);
  appendEntries(index, someEntries(3, 7));
  const std::string before = dir.readFile("e.ix");
  rebuildStats(index);
  EXPECT_EQ(dir.readFile("e.ix"), before);
}

TEST_F(IndexEntries, RebuildStatsOfACutTableChangesNothing) {
  appendEntries(index, someEntries(3, 8));
  const FortuneStats stats = getStats(index);
  cutFile(path, 64 + 16 * 2);
  EXPECT_THROW(rebuildStats(index), IOError);
  EXPECT_EQ(getStats(index), stats);
  EXPECT_EQ(decodeHeader(dir.readFile("e.ix")).stats, stats);
}

// Appenders and readers share one index; the result must equal a serial run.
TEST_F(IndexEntries, ConcurrentAppendsAndReadsMatchASerialRun) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        const std::int64_t tag = t * kPerThread + i;
        appendEntry(index, {tag, tag % 17, tag % 17, 1 + tag % 3});
        const std::int64_t count = getStats(index).numFortunes;
        const IndexEntry last = getEntry(index, count - 1);
        EXPECT_GE(last.stringOffset, 0);
        EXPECT_GE(static_cast<std::int64_t>(getEntries(index).size()), count);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<IndexEntry> stored = getEntries(openIndex(path, false));
  ASSERT_EQ(stored.size(), static_cast<std::size_t>(kThreads * kPerThread));
  std::sort(stored.begin(), stored.end());
  std::vector<IndexEntry> serial;
  for (std::int64_t tag = 0; tag < kThreads * kPerThread; ++tag) {
    serial.push_back({tag, tag % 17, tag % 17, 1 + tag % 3});
  }
  EXPECT_EQ(stored, serial);
  EXPECT_EQ(getStats(index), statsOf(serial));
}

}  // namespace
}  // namespace tallowmere
