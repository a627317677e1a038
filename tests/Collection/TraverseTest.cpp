// Traversal of a file's entries: order, positions, early failure, and the plain accessors.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune.hpp>
#include "Collection/CollectionSupport.hpp"

namespace tallowmere {
namespace {

using test::TempDir;
using test::writeFortunes;
using Positions = std::vector<std::int64_t>;

class Traversal : public ::testing::Test {
 protected:
  // Fortunes of 1, 3, 2 and 5 lines.
  void SetUp() override {
    file.emplace(openFortuneFile(
        U'%', false, writeFortunes(dir, "lines", {"a", "b\nb\nb", "c\nc", "d\nd\nd\nd\nd"})));
  }
  void TearDown() override { closeFortuneFile(*file); }

  TempDir dir;
  std::optional<FortuneFile> file;
};

TEST_F(Traversal, MapsEveryEntryInPositionOrder) {
  std::vector<std::int64_t> visited;
  const std::vector<std::string> tagged = mapFortunesWithIndexM(
      [&](std::int64_t i, const IndexEntry& entry) {
        visited.push_back(i);
        return std::to_string(i) + ":" + std::to_string(entry.stringLines);
      },
      *file);
  EXPECT_EQ(visited, (Positions{0, 1, 2, 3}));
  EXPECT_EQ(tagged, (std::vector<std::string>{"0:1", "1:3", "2:2", "3:5"}));
  EXPECT_EQ(mapFortunes([](const IndexEntry& e) { return e.stringBytes; }, *file),
            (std::vector<std::int64_t>{1, 5, 3, 9}));
}

TEST_F(Traversal, WithIndexPerformsEachReturnedActionOnceInOrder) {
  std::string log;
  const std::vector<std::int64_t> results = mapFortunesWithIndex(
      [&](std::int64_t i) {
        log += "made " + std::to_string(i) + ";";
        return [&log, i] {
          log += "ran " + std::to_string(i) + ";";
          return i * 10;
        };
      },
      *file);
  EXPECT_EQ(results, (std::vector<std::int64_t>{0, 10, 20, 30}));
  EXPECT_EQ(log, "made 0;ran 0;made 1;ran 1;made 2;ran 2;made 3;ran 3;");
}

TEST_F(Traversal, FiltersYieldPassingPositions) {
  const auto longer = [](const IndexEntry& e) { return e.stringLines > 2; };
  EXPECT_EQ(filterFortunes(longer, *file), (Positions{1, 3}));
  EXPECT_EQ(filterFortunesM(longer, *file), (Positions{1, 3}));
  const auto evenOrShort = [](std::int64_t i, const IndexEntry& e) {
    return i % 2 == 0 || e.stringLines < 3;
  };
  EXPECT_EQ(filterFortunesWithIndex(evenOrShort, *file), (Positions{0, 2}));
  EXPECT_EQ(filterFortunesWithIndexM<std::int16_t>(evenOrShort, *file),
            (std::vector<std::int16_t>{0, 2}));
}

TEST_F(Traversal, CallbackFailureEndsTheTraversal) {
  int calls = 0;
  EXPECT_THROW(mapFortunesM(
                   [&](const IndexEntry&) {
                     if (++calls == 3) throw std::runtime_error("stop");
                     return calls;
                   },
                   *file),
               std::runtime_error);
  EXPECT_EQ(calls, 3);
}

TEST_F(Traversal, CallbacksMayReadTheSameFile) {
  const std::vector<std::string> texts = mapFortunesWithIndexM(
      [&](std::int64_t i, const IndexEntry&) { return getFortune(*file, i); }, *file);
  EXPECT_EQ(texts, (std::vector<std::string>{"a", "b\nb\nb", "c\nc", "d\nd\nd\nd\nd"}));
}

TEST_F(Traversal, ClosedFileFailsBeforeAnyCallback) {
  FortuneFile other = openFortuneFile(U'%', false, file->fortunePath());
  closeFortuneFile(other);
  int calls = 0;
  EXPECT_THROW((void)filterFortunes([&](const IndexEntry&) { return ++calls > 0; }, other),
               UsageError);
  EXPECT_EQ(calls, 0);
}

TEST(TraversalEdges, FileWithoutFortunesRunsNoCallback) {
  TempDir dir;
  // A writable file without an index file gets an empty index, whatever its text holds.
  const FortuneFile file = openFortuneFile(U'%', true, writeFortunes(dir, "unindexed", {"x", "y"}));
  int calls = 0;
  const auto count = [&](auto&&...) { return ++calls > 0; };
  EXPECT_TRUE(mapFortunesWithIndexM(count, file).empty());
  EXPECT_TRUE(mapFortunes(count, file).empty());
  EXPECT_TRUE(mapFortunesWithIndex(count, file).empty());
  EXPECT_TRUE(filterFortunes(count, file).empty());
  EXPECT_TRUE(filterFortunesWithIndexM(count, file).empty());
  EXPECT_EQ(calls, 0);
  closeFortuneFile(file);
}

TEST(TraversalEdges, NarrowPositionTypeEndsAtItsLargestValue) {
  TempDir dir;
  const FortuneFile file =
      openFortuneFile(U'%', false, writeFortunes(dir, "many", std::vector<std::string>(130, "x")));
  const std::vector<std::int8_t> positions = filterFortunesWithIndex<std::int8_t>(
      [](std::int8_t, const IndexEntry&) { return true; }, file);
  ASSERT_EQ(positions.size(), 128u);
  EXPECT_EQ(positions.back(), 127);
  EXPECT_EQ(mapFortunesWithIndexM([](std::int64_t i, const IndexEntry&) { return i; }, file).size(),
            130u);
  closeFortuneFile(file);
}

TEST(TraversalEdges, PlainStatisticsAccessors) {
  TempDir dir;
  const std::string fortune = "Thirty-nine characters on this line...\nx";  // 40 characters
  ASSERT_EQ(fortune.size(), 40u);
  const FortuneFile file = openFortuneFile(U'%', false, writeFortunes(dir, "one", {fortune}));
  const FortuneStats stats = getStats(getIndex(file));
  EXPECT_EQ(numFortunes(stats), 1);
  EXPECT_EQ(minChars(stats), 40);
  EXPECT_EQ(maxChars(stats), 40);
  EXPECT_EQ(minLines(stats), 2);
  EXPECT_EQ(maxLines(stats), 2);
  closeFortuneFile(file);
}

}  // namespace
}  // namespace tallowmere
