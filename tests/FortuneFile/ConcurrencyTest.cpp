// Several threads reading and appending at once, through one FortuneFile and through handles of
// their own on the same path.
#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "FortuneFile/Support.hpp"
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

TEST(FortuneFileThreads, ReadersAndWritersSeeOnlyCompletedAppends) {
  test::TempDir dir;
  FortuneFile file = openFortuneFile('%', true, dir.writeFile("f", "first\n%\nsecond\n"));
  rebuildIndex(file);
  // Writer 0 appends through the shared handle, the others through handles of their own.
  constexpr int writers = 3, perWriter = 40;
  std::set<std::string> known = {"first", "second"};
  for (int w = 0; w < writers; ++w) {
    for (int i = 0; i < perWriter; ++i)
      known.insert("w" + std::to_string(w) + " #" + std::to_string(i));
  }

  std::atomic<bool> done = false;
  std::atomic<int> badReads = 0;
  // A reader must never meet an index that an append has cleared and not yet refilled.
  auto reader = [&] {
    while (!done) {
      try {
        const std::int64_t n = getNumFortunes(file);
        if (n < 2 || !known.count(getFortune(file, n - 1)) || !known.count(getFortune(file, 0))) {
          ++badReads;
        }
        std::vector<std::string> all = getFortunes(file);
        all.back().pop_back();  // the file's final newline
        for (const std::string& piece : all) badReads += known.count(piece) ? 0 : 1;
      } catch (const std::exception&) {
        ++badReads;
      }
    }
  };
  std::vector<std::thread> threads;
  for (int r = 0; r < 2; ++r) threads.emplace_back(reader);
  std::vector<std::thread> appenders;
  for (int w = 0; w < writers; ++w) {
    appenders.emplace_back([&, w] {
      const FortuneFile mine = w == 0 ? file : openFortuneFile('%', true, fortuneFilePath(file));
      for (int i = 0; i < perWriter; ++i) {
        appendFortune(mine, "w" + std::to_string(w) + " #" + std::to_string(i));
      }
    });
  }
  for (auto& t : appenders) t.join();
  done = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(badReads, 0);

  std::vector<std::string> all = getFortunes(file);
  all.back().pop_back();
  EXPECT_EQ(std::set<std::string>(all.begin(), all.end()), known);
  EXPECT_EQ(all.size(), known.size());
  // Each writer's fortunes appear in the order it appended them.
  for (int w = 0; w < writers; ++w) {
    int next = 0;
    for (const std::string& piece : all) {
      if (piece.rfind("w" + std::to_string(w) + " ", 0) == 0) {
        EXPECT_EQ(piece, "w" + std::to_string(w) + " #" + std::to_string(next++));
      }
    }
  }
  // The shared handle keeps the header it read; a new one sees every append.
  EXPECT_EQ(getNumFortunes(openFortuneFile('%', false, fortuneFilePath(file))),
            static_cast<std::int64_t>(known.size()));
}

}  // namespace
}  // namespace tallowmere
