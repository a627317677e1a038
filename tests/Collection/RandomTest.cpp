// Random selection: distributions, the generator, and randomFortune over real files.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <tallowmere/Data/Fortune.hpp>
#include "Collection/CollectionSupport.hpp"
#include "support/ExitChild.hpp"

namespace tallowmere {
namespace {

using test::ScopedEnvironment;
using test::TempDir;
using test::writeFortunes;

std::string userErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const IOError& e) {
    return e.isUserError() ? e.what() : "(system error)";
  }
  return "(no IOError)";
}

TEST(Distributions, EventsAndWeights) {
  const auto list = fromWeightedList<char>({{1.0f, 'a'}, {0.0f, 'b'}, {2.5f, 'a'}});
  EXPECT_EQ(numEvents(list), 3u);
  EXPECT_DOUBLE_EQ(list.totalWeight(), 3.5);

  const auto observed = fromObservations(std::vector<int>{7, 3, 7, 7, 5});
  ASSERT_EQ(numEvents(observed), 3u);
  EXPECT_EQ(observed.events()[0], (std::pair<float, int>{3.0f, 7}));
  EXPECT_EQ(observed.events()[1], (std::pair<float, int>{1.0f, 3}));
  EXPECT_EQ(observed.events()[2], (std::pair<float, int>{1.0f, 5}));

  EXPECT_THROW((void)fromWeightedList<int>({{-1.0f, 1}}), UsageError);
}

TEST(Distributions, NothingToDrawFailsAsAUserError) {
  SplitMix64 generator(1);
  EXPECT_EQ(userErrorOf([&] { (void)Categorical<int>().sample(generator); }),
            "Categorical: cannot sample a distribution with no events");
  EXPECT_EQ(userErrorOf([&] {
              (void)sampleFrom(generator, fromWeightedList<int>({{0.0f, 1}, {0.0f, 2}}));
            }),
            "Categorical: cannot sample a distribution whose total weight is 0");
}

TEST(Distributions, ZeroWeightEventsAreNeverDrawn) {
  SplitMix64 generator(42);
  const auto d = fromWeightedList<int>({{0.0f, 0}, {1.0f, 1}, {0.0f, 2}, {1.0f, 3}, {0.0f, 4}});
  const RVar<int> variable = d;
  std::set<int> drawn;
  for (int i = 0; i < 1000; ++i) drawn.insert(sampleFrom(generator, variable));
  EXPECT_EQ(drawn, (std::set<int>{1, 3}));
}

TEST(Generator, UniformIntegersStayInRangeAndAnEmptyRangeDoesNotHang) {
  SplitMix64 generator(7);
  EXPECT_EQ(uniformInt64(generator, 0, -1), 0);
  EXPECT_EQ(uniformInt64(generator, 5, 5), 5);
  std::set<std::int64_t> seen;
  for (int i = 0; i < 2000; ++i) seen.insert(uniformInt64(generator, -3, 3));
  EXPECT_EQ(seen, (std::set<std::int64_t>{-3, -2, -1, 0, 1, 2, 3}));
  for (int i = 0; i < 1000; ++i) {
    const float u = uniformFloat(generator);
    ASSERT_GE(u, 0.0f);
    ASSERT_LT(u, 1.0f);
  }
}

TEST(Generator, SeedingRepeatsSplitsAndConcurrentSplitsAreDistinct) {
  seedGlobalGenerator(123);
  const std::uint64_t first = splitGlobalGenerator().nextWord64();
  const std::uint64_t second = splitGlobalGenerator().nextWord64();
  EXPECT_NE(first, second);
  seedGlobalGenerator(123);
  EXPECT_EQ(splitGlobalGenerator().nextWord64(), first);

  // Every split, from whatever thread, hands out a different stream.
  constexpr std::size_t threads = 4, splits = 2000;
  std::vector<std::vector<std::uint64_t>> outputs(threads);
  std::vector<std::thread> workers;
  for (std::size_t t = 0; t < threads; ++t) {
    workers.emplace_back([&outputs, t] {
      for (std::size_t i = 0; i < splits; ++i)
        outputs[t].push_back(splitGlobalGenerator().nextWord64());
    });
  }
  for (std::thread& worker : workers) worker.join();
  std::set<std::uint64_t> all;
  for (const auto& some : outputs) all.insert(some.begin(), some.end());
  EXPECT_EQ(all.size(), threads * splits);
}

class Selection : public ::testing::Test {
 protected:
  void SetUp() override { env.isolate(data.path()); }

  TempDir data;
  TempDir dir;
  ScopedEnvironment env;
};

TEST_F(Selection, NoFilesAnywhereGivesTheFixedText) {
  EXPECT_EQ(randomFortune({}),
            "Very few profundities can be expressed in less than 80 characters.");
  std::filesystem::create_directories(data.path("data/normal/empty"));
  EXPECT_EQ(randomFortune({}), noFortuneFilesText);
}

TEST_F(Selection, DefaultSearchPathIsThatOfNormal) {
  std::filesystem::create_directories(data.path("data/normal/deeper"));
  std::filesystem::create_directories(data.path("data/offensive"));
  writeFortunes(data, "data/normal/deeper/kind", {"Be kind to your parsers."});
  writeFortunes(data, "data/offensive/rude", {"Tabs."});
  for (int i = 0; i < 20; ++i) EXPECT_EQ(randomFortune({}), "Be kind to your parsers.");
}

TEST_F(Selection, OneFileOfOneFortuneAlwaysGivesIt) {
  const std::string only = writeFortunes(dir, "only", {"The only one."});
  for (int i = 0; i < 20; ++i) EXPECT_EQ(randomFortune({only}), "The only one.");
  // Read-only: the index was built in memory and nothing was written next to the file.
  EXPECT_FALSE(std::filesystem::exists(only + ".ix"));
}

TEST_F(Selection, EveryFortuneEquallyLikelyAcrossFilesOfDifferentSize) {
  const std::vector<std::string> paths = {writeFortunes(dir, "small", {"s0"}),
                                          writeFortunes(dir, "large", {"l0", "l1", "l2"})};
  seedGlobalGenerator(2024);
  constexpr int draws = 4000;
  std::map<std::string, int> counts;
  for (int i = 0; i < draws; ++i) ++counts[randomFortune(paths)];
  ASSERT_EQ(counts.size(), 4u);
  // Chi-square with 3 degrees of freedom; 30 is far beyond the 0.001 quantile (16.3).
  double chiSquare = 0;
  for (const auto& [text, count] : counts) {
    const double expected = draws / 4.0;
    chiSquare += (count - expected) * (count - expected) / expected;
  }
  EXPECT_LT(chiSquare, 30.0);
}

TEST_F(Selection, FailuresAfterOpeningCloseEverything) {
  const std::string good = writeFortunes(dir, "good", {"fine"});
  EXPECT_EQ(userErrorOf([&] {
              (void)randomFortune({good, dir.path("absent")});
            }),
            "openFortuneFile: file does not exist: \"" + dir.path("absent") + "\"");

  // Files whose indexes hold no fortune: nothing to draw. An empty index over a text that has
  // fortunes is not believed.
  const std::string empty = dir.writeFile("empty", "");
  const std::string unindexed = writeFortunes(dir, "unindexed", {"unindexed"});
  for (const std::string& path : {empty, unindexed}) {
    withFortuneFile(U'%', true, path, [](const FortuneFile& file) { (void)getIndex(file); });
  }
  EXPECT_EQ(userErrorOf([&] { (void)randomFortune({empty}); }), empty + ": no fortune to draw");
  EXPECT_EQ(randomFortune({unindexed}), "unindexed");
}

// No file is held open between reads: a process that may hold only a few files open draws
// from many.
TEST_F(Selection, MoreFilesThanMayBeOpenAtOnceAreDrawnFrom) {
  std::vector<std::string> paths;
  for (int i = 0; i < 100; ++i) {
    paths.push_back(writeFortunes(dir, "f" + std::to_string(i), {"saying"}));
    if (i % 2 == 0) rebuildIndex(openFortuneFile(U'%', true, paths.back(), {.sync = false}));
  }
  // In a child process, whose limit of open files can be lowered for good.
  const pid_t child = fork();
  if (child == 0) {
    const rlimit limit{16, 16};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(2);
    try {
      test::exitChild(randomFortune(paths) == "saying" ? 0 : 3);
    } catch (const std::exception&) {
      test::exitChild(4);
    }
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(Selection, DistributionOverNoFilesIsRefused) {
  EXPECT_EQ(userErrorOf([] { (void)defaultFortuneDistribution({}); }),
            "defaultFortuneDistribution: no fortune files");
}

TEST_F(Selection, ChosenFileWithoutFortunesReportsThePositionOutOfRange) {
  const std::string empty = writeFortunes(dir, "empty", {"unindexed"});
  withFortuneFile(U'%', true, empty, [&](const FortuneFile& file) {
    const RVar<FortuneFile> always = [&file](SplitMix64&) { return file; };
    EXPECT_EQ(userErrorOf([&] { (void)randomFortuneFromRandomFile(always); }),
              "getEntry: index out of range: 0");
  });
}

TEST_F(Selection, FilteredDistributionKeepsPassingPositions) {
  const std::vector<std::string> paths = {writeFortunes(dir, "first", {"a", "b", "c"}),
                                          writeFortunes(dir, "second", {"d", "e", "f", "g"})};
  withFortuneFiles(U'%', false, paths, [&](const std::vector<FortuneFile>& files) {
    std::vector<std::pair<std::string, std::int64_t>> calls;
    const auto distribution = fortuneDistributionWhere(
        [&](const FortuneFile& file, std::int64_t i, const IndexEntry&) {
          calls.emplace_back(file.fortunePath(), i);
          return file.fortunePath() == paths[1] && i == 2;
        },
        files);
    // The test ran once per entry, file by file, in position order.
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[2], std::make_pair(paths[0], std::int64_t{2}));
    EXPECT_EQ(calls[3], std::make_pair(paths[1], std::int64_t{0}));
    EXPECT_EQ(calls[6], std::make_pair(paths[1], std::int64_t{3}));

    ASSERT_EQ(numEvents(distribution), 2u);
    EXPECT_EQ(distribution.events()[0].first, 0.0f);
    EXPECT_EQ(distribution.events()[1].first, 1.0f);
    SplitMix64 generator(5);
    for (int i = 0; i < 20; ++i) {
      const auto& [file, inner] = sampleFrom(generator, distribution);
      EXPECT_EQ(getFortune(file, sampleFrom(generator, inner)), "f");
    }
    EXPECT_EQ(numEvents(fortuneDistributionWhere(
                  [](const FortuneFile&, std::int64_t, const IndexEntry&) { return true; }, {})),
              0u);
  });
}

TEST_F(Selection, ConcurrentSelectionsFromSeveralThreads) {
  const std::vector<std::string> paths = {writeFortunes(dir, "x", {"x0", "x1"}),
                                          writeFortunes(dir, "y", {"y0", "y1", "y2"})};
  const std::set<std::string> valid = {"x0", "x1", "y0", "y1", "y2"};
  std::atomic<int> wrong{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        try {
          if (valid.count(randomFortune(paths)) == 0) ++wrong;
        } catch (...) {
          ++wrong;
        }
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace tallowmere
