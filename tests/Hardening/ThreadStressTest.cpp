// Many threads on one handle at once: readers, appenders, rebuilds and random draws, and a
// close in the middle. Afterwards nothing crashed or hung, every operation after the close fails
// with the documented error, and the files hold exactly what the completed operations wrote.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <tallowmere/Data/Fortune.hpp>
#include <tallowmere/Data/Fortune/Collection.hpp>
#include "Collection/CollectionSupport.hpp"
#include "support/ExitChild.hpp"
#include "support/ReferenceScan.hpp"
#include "support/TempDir.hpp"
#include "support/Watchdog.hpp"

namespace tallowmere {
namespace {

// What went wrong in the threads, reported once they have all finished.
class Failures {
 public:
  void add(const std::string& what) {
    const std::lock_guard<std::mutex> lock(mutex_);
    list_.push_back(what);
  }
  std::string all() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    for (const std::string& what : list_) text += what + "\n";
    return text;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> list_;
};

bool closedIndexError(const std::exception& e) {
  if (const auto* problem = dynamic_cast<const IndexProblemError*>(&e)) {
    return problem->problem() == IndexProblem::AccessToClosedIndex();
  }
  const auto* io = dynamic_cast<const IOError*>(&e);
  return io != nullptr && io->errorCode() == EBADF;
}

// An Index that getIndex handed out before the close reports the close on its own terms.
bool closedFortuneFileError(const std::exception& e) {
  if (const auto* problem = dynamic_cast<const IndexProblemError*>(&e)) {
    return problem->problem() == IndexProblem::AccessToClosedIndex();
  }
  return dynamic_cast<const UsageError*>(&e) != nullptr &&
         std::string(e.what()) == "Fortune file is closed";
}

// Threads that each run one step over and over until it fails; a failure that `closed` accepts
// ends the thread quietly, any other is recorded.
class Crew {
 public:
  explicit Crew(bool (*closed)(const std::exception&)) : closed_(closed) {}
  ~Crew() { join(); }

  template <class Step>
  void add(std::string name, Step step) {
    threads_.emplace_back([this, name = std::move(name), step]() mutable {
      try {
        for (long round = 0;; ++round) step(round);
      } catch (const std::exception& e) {
        if (!closed_(e)) failures.add(name + ": " + e.what());
      }
    });
  }
  void join() {
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }

  Failures failures;

 private:
  bool (*closed_)(const std::exception&);
  std::vector<std::thread> threads_;
};

// Waits until `count` reaches `target` (the watchdog bounds the wait).
void awaitCount(const std::atomic<long>& count, long target) {
  while (count.load() < target) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

using Operations = std::map<std::string, std::function<void()>>;

// Checks that every one of `ops` throws what `closed` accepts.
void expectClosed(bool (*closed)(const std::exception&), const Operations& ops) {
  for (const auto& [name, op] : ops) {
    try {
      op();
      ADD_FAILURE() << name << " worked after the close";
    } catch (const std::exception& e) {
      EXPECT_TRUE(closed(e)) << name << ": " << e.what();
    }
  }
}

// Appender `t`'s i-th entry: recognisable, and valid for the statistics.
IndexEntry entryOf(int t, long i) { return {100000 * t + i, 1 + i % 20, 1 + i % 20, 1 + i % 3}; }

TEST(StressThreads, OneIndexSharedByReadersAppendersAStatisticsRebuildAndAClose) {
  const test::Watchdog watchdog("OneIndexSharedBy...");
  test::TempDir dir;
  const std::string path = dir.path("shared.ix");
  const Index index = openIndex(path, true);
  constexpr int kAppenders = 3;
  std::vector<std::vector<IndexEntry>> done(kAppenders + 1);  // [kAppenders]: the seed
  for (long i = 0; i < 10; ++i) done[kAppenders].push_back(entryOf(kAppenders, i));
  appendEntries(index, done[kAppenders]);
  std::atomic<long> appended = 0;

  Crew crew(closedIndexError);
  for (int t = 0; t < kAppenders; ++t) {
    // One appender adds single entries, one pairs, one through a generator.
    std::vector<IndexEntry>& mine = done[static_cast<std::size_t>(t)];
    crew.add("appender", [&, t](long) {
      const long first = static_cast<long>(mine.size());
      std::vector<IndexEntry> batch = {entryOf(t, first)};
      if (t > 0) batch.push_back(entryOf(t, first + 1));
      if (t == 0) appendEntry(index, batch[0]);
      if (t == 1) appendEntries(index, batch);
      if (t == 2) {
        std::size_t next = 0;
        unfoldEntries(index, [&]() -> std::optional<IndexEntry> {
          if (next == batch.size()) return std::nullopt;
          return batch[next++];
        });
      }
      mine.insert(mine.end(), batch.begin(), batch.end());
      appended += static_cast<long>(batch.size());
    });
  }
  for (int r = 0; r < 2; ++r) {
    crew.add("reader", [&](long round) {
      const std::int64_t count = getStats(index).numFortunes;
      if (getEntry(index, count - 1).stringOffset < 0) crew.failures.add("a negative offset");
      if (round % 8 != 0) return;
      const std::vector<IndexEntry> table = getEntries(index);
      if (static_cast<std::int64_t>(table.size()) < count) crew.failures.add("a shrinking table");
      std::vector<long> last(kAppenders + 1, -1);  // each appender's entries come in its order
      for (const IndexEntry& entry : table) {
        const auto t = static_cast<std::size_t>(entry.stringOffset / 100000);
        const long i = entry.stringOffset % 100000;
        if (t > kAppenders || entry != entryOf(static_cast<int>(t), i) || i != last[t] + 1) {
          crew.failures.add("an entry out of place: " + show(entry));
        }
        last[t] = i;
      }
      if (const auto problem = checkIndex(index)) throw IndexProblemError(*problem, show(*problem));
    });
  }
  crew.add("statistics", [&](long) {
    const FortuneStats before = getStats(index);
    rebuildStats(index);
    if (getStats(index).numFortunes < before.numFortunes) crew.failures.add("lost statistics");
  });

  awaitCount(appended, 4000);
  closeIndex(index);
  crew.join();
  EXPECT_EQ(crew.failures.all(), "");

  expectClosed(closedIndexError,
               Operations{{"getStats", [&] { (void)getStats(index); }},
                          {"getEntry", [&] { (void)getEntry(index, 0); }},
                          {"getEntries", [&] { (void)getEntries(index); }},
                          {"appendEntry", [&] { appendEntry(index, entryOf(0, 0)); }},
                          {"clearIndex", [&] { clearIndex(index); }},
                          {"rebuildStats", [&] { rebuildStats(index); }}});
  EXPECT_EQ(checkIndex(index), IndexProblem::AccessToClosedIndex());
  closeIndex(index);  // a second close does nothing

  // The file holds exactly the completed appends, each appender's in its order.
  const std::vector<IndexEntry> stored = getEntries(openIndex(path, false));
  std::vector<IndexEntry> expected;
  for (const auto& entries : done) expected.insert(expected.end(), entries.begin(), entries.end());
  EXPECT_EQ(stored.size(), expected.size());
  EXPECT_TRUE(std::is_permutation(stored.begin(), stored.end(), expected.begin(), expected.end()));
  FortuneStats stats = FortuneStats::mempty;
  for (const IndexEntry& entry : expected) stats += indexEntryStats(entry);
  EXPECT_EQ(getStats(openIndex(path, false)), stats);
  std::cout << kAppenders + 3 << " threads; " << appended << " entries appended before the close\n";
}

TEST(StressThreads, OneFortuneFileSharedByReadersAppendersRebuildsDrawsAndAClose) {
  const test::Watchdog watchdog("OneFortuneFileSharedBy...");
  test::TempDir dir;
  std::vector<std::string> seed;
  for (int i = 0; i < 20; ++i) seed.push_back("seed " + std::to_string(i));
  const std::string path = test::writeFortunes(dir, "shared", seed);
  const FortuneFile file = openFortuneFile('%', true, path);
  rebuildIndex(file);
  // A collection of its own for randomFortune, which opens and closes its files every time.
  const std::vector<std::string> collection = {test::writeFortunes(dir, "a", {"a0", "a1"}),
                                               test::writeFortunes(dir, "b", {"b0"})};
  constexpr int kAppenders = 3;
  std::vector<std::vector<std::string>> done(kAppenders);
  std::atomic<long> appended = 0;
  // Whether `text` is a fortune that the file may hold.
  const auto known = [&seed](const std::string& text) {
    return std::find(seed.begin(), seed.end(), text) != seed.end() ||
           (text.size() > 4 && text[0] == 't' && text.find(" #") == 2);
  };

  Crew crew(closedFortuneFileError);
  for (int t = 0; t < kAppenders; ++t) {
    std::vector<std::string>& mine = done[static_cast<std::size_t>(t)];
    crew.add("appender", [&, t](long round) {
      const std::string text = "t" + std::to_string(t) + " #" + std::to_string(round);
      appendFortune(file, text);
      mine.push_back(text);
      ++appended;
    });
  }
  for (int r = 0; r < 2; ++r) {
    crew.add("reader", [&](long round) {
      const std::int64_t count = getNumFortunes(file);
      const std::string text = getFortune(file, (round * 7919) % count);
      if (!known(text)) crew.failures.add("read an unknown fortune: " + text);
      if (round % 16 != 0) return;
      std::vector<std::string> all = getFortunes(file);
      all.back().pop_back();  // the file's final newline
      for (const std::string& piece : all) {
        if (!known(piece)) crew.failures.add("the text holds an unknown fortune: " + piece);
      }
    });
  }
  crew.add("rebuilder", [&](long) {
    const std::int64_t before = getNumFortunes(file);
    rebuildIndex(file);
    if (getNumFortunes(file) < before) crew.failures.add("a rebuild lost fortunes");
  });
  crew.add("drawer", [&](long) {
    const std::vector<FortuneFile> files = {file};
    const std::string text = randomFortuneFromRandomFile(defaultFortuneDistribution(files));
    if (!known(text)) crew.failures.add("drew an unknown fortune: " + text);
  });
  std::vector<std::thread> collectionDrawers;
  for (int d = 0; d < 2; ++d) {
    collectionDrawers.emplace_back([&] {
      try {
        for (int round = 0; round < 200; ++round) {
          const std::string text = randomFortune(collection);
          if (text != "a0" && text != "a1" && text != "b0") crew.failures.add("drew " + text);
        }
      } catch (const std::exception& e) {
        crew.failures.add(std::string("randomFortune: ") + e.what());
      }
    });
  }

  awaitCount(appended, 150);
  closeFortuneFile(file);
  crew.join();
  for (std::thread& drawer : collectionDrawers) drawer.join();
  EXPECT_EQ(crew.failures.all(), "");

  expectClosed(closedFortuneFileError,
               Operations{{"getNumFortunes", [&] { (void)getNumFortunes(file); }},
                          {"getFortune", [&] { (void)getFortune(file, 0); }},
                          {"getFortunes", [&] { (void)getFortunes(file); }},
                          {"getIndex", [&] { (void)getIndex(file); }},
                          {"appendFortune", [&] { appendFortune(file, "too late"); }},
                          {"rebuildIndex", [&] { rebuildIndex(file); }},
                          {"closeFortuneFile", [&] { closeFortuneFile(file); }}});

  // The text holds the seed and exactly the completed appends, each appender's in its order,
  // and the index file describes that text.
  const std::string text = dir.readFile("shared");
  std::vector<std::string> expected = seed;
  for (const auto& texts : done) expected.insert(expected.end(), texts.begin(), texts.end());
  withFortuneFile('%', false, path, [&](const FortuneFile& stored) {
    std::vector<std::string> all = getFortunes(stored);
    all.back().pop_back();
    EXPECT_TRUE(std::is_permutation(all.begin(), all.end(), expected.begin(), expected.end()));
    EXPECT_TRUE(std::equal(seed.begin(), seed.end(), all.begin()));
    for (int t = 0; t < kAppenders; ++t) {
      std::vector<std::string> mine;
      std::copy_if(all.begin(), all.end(), std::back_inserter(mine),
                   [t](const std::string& s) { return s.rfind("t" + std::to_string(t), 0) == 0; });
      EXPECT_EQ(mine, done[static_cast<std::size_t>(t)]);
    }
    EXPECT_EQ(getEntries(getIndex(stored)), test::referenceScan(text, U'%'));
  });
  std::cout << kAppenders + 6 << " threads; " << appended
            << " fortunes appended before the close\n";
}

}  // namespace
}  // namespace tallowmere

namespace tallowmere {
namespace {

namespace fs = std::filesystem;
using test::writeFortunes;

// One collection kept open by threads that draw and search, while a thread of this process and
// another process append to its files: every draw and every match is a fortune that its file
// holds, and once the appends are done the collection counts all of them.
TEST(StressThreads, OneCollectionDrawnAndSearchedWhileItsFilesGrow) {
  const test::Watchdog watchdog("OneCollectionDrawnAndSearched...");
  const test::TempDir dir;
  const std::vector<std::string> paths = {writeFortunes(dir, "a", {"a start"}),
                                          writeFortunes(dir, "b", {"b start"}),
                                          writeFortunes(dir, "c", {"c start"})};
  for (const std::string& path : paths) rebuildIndex(openFortuneFile(U'%', true, path));
  constexpr int kAppends = 150;
  const auto appended = [](const std::string& file, int i) {
    return file + " appended " + std::to_string(i);
  };
  const auto holds = [&](const std::string& path, const std::string& text) {
    const std::string name = fs::path(path).filename().string();
    if (text == name + " start") return true;
    for (int i = 0; i < kAppends; ++i) {
      if (text == appended(name, i)) return true;
    }
    return false;
  };

  const pid_t child = fork();
  if (child == 0) {
    for (int i = 0; i < kAppends; ++i)
      appendFortune(openFortuneFile(U'%', true, paths[1]), appended("b", i));
    test::exitChild(0);
  }
  CollectionOptions options;
  options.recheckAfter = std::chrono::milliseconds(0);
  const Collection collection = Collection::ofFiles(paths, options);
  std::atomic<bool> done = false;
  Failures failures;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      SplitMix64 generator(static_cast<std::uint64_t>(t));
      while (!done) {
        try {
          const DrawnFortune drawn = collection.draw({}, generator);
          if (!holds(drawn.path, drawn.text)) failures.add("drew " + drawn.text);
          collection.visitMatches(Pattern("appended 1"), [&](const VisitedFortune& fortune) {
            if (!holds(fortune.path, fortune.text())) failures.add("matched " + fortune.text());
            return Visit::Continue;
          });
        } catch (const std::exception& e) {
          failures.add(e.what());
        }
      }
    });
  }
  for (int i = 0; i < kAppends; ++i)
    appendFortune(openFortuneFile(U'%', true, paths[0]), appended("a", i));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  done = true;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.all(), "");
  EXPECT_EQ(collection.count(), 3 + 2 * kAppends);
}

}  // namespace
}  // namespace tallowmere
