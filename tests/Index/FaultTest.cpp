// Index operations driven through a failing file at every step they take: afterwards the lock
// is free, the header in memory and on disk is the one from before, and the index works.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <tallowmere/Data/Fortune/Index.hpp>
#include "support/FaultyFile.hpp"
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

using test::FaultyFile;
using test::TempDir;

struct Operation {
  const char* name;
  std::function<void(const Index&)> run;
};

std::vector<IndexEntry> entries(int count, std::int64_t from) {
  std::vector<IndexEntry> out;
  for (int i = 0; i < count; ++i) out.push_back({from + 10 * i, 9, 8, 2});
  return out;
}

const Operation kOperations[] = {
    {"appendEntries", [](const Index& index) { appendEntries(index, entries(300, 1000)); }},
    {"unfoldEntries",
     [](const Index& index) {
       auto pending = entries(600, 5000);
       std::size_t next = 0;
       unfoldEntries(index, [&]() -> std::optional<IndexEntry> {
         if (next == pending.size()) return std::nullopt;
         return pending[next++];
       });
     }},
    {"clearIndex", [](const Index& index) { clearIndex(index); }},
    {"modifyHeader",
     [](const Index& index) {
       modifyHeader(index, [](File& file, const CurrentHeader& current) {
         file.seek(current.indexLoc());
         return Header{current.get().stats, current.indexLoc()};
       });
     }},
    {"rebuildStats", [](const Index& index) { rebuildStats(index); }},
};

TEST(IndexFaults, EveryFailedStepLeavesTheIndexAsItWas) {
  TempDir dir;
  long faults = 0;
  for (const Operation& operation : kOperations) {
    for (long k = 1;; ++k) {
      const std::string path = dir.path(std::string(operation.name) + std::to_string(k) + ".ix");
      const auto plan = std::make_shared<test::Plan>();
      const Index index =
          openIndex(std::make_unique<FaultyFile>(openFile(path, OpenMode::ReadWrite), plan), true);
      appendEntries(index, entries(20, 0));
      const FortuneStats before = getStats(index);
      plan->arm(k);
      try {
        operation.run(index);
      } catch (const IOError& error) {
        ASSERT_EQ(error.errorCode(), EIO)
            << operation.name << " step " << k << ": " << error.what();
      }
      if (!plan->fired()) break;  // ran to the end without reaching step k
      ++faults;
      plan->arm(0);
      SCOPED_TRACE(std::string(operation.name) + " failing at step " + std::to_string(k));
      EXPECT_EQ(getStats(index), before);
      EXPECT_EQ(getEntries(index), entries(20, 0));
      // A failed update may have left its header stored (clearIndex stores the empty header
      // before it cuts the table, and the cut may fail): the next update stores its header even
      // when it is the current one, so that the file holds the index in memory again.
      modifyHeader(index, [](File&, const CurrentHeader& current) { return current.get(); });
      const Index unchanged = openIndex(path, false);
      EXPECT_EQ(getStats(unchanged), getStats(index));
      EXPECT_EQ(getEntries(unchanged), getEntries(index));
      appendEntry(index, {7, 1, 1, 1});  // the lock is free and the index works
      EXPECT_EQ(getStats(index).numFortunes, 21);
      // and the file holds the same index again, whatever the failure left in it
      const Index stored = openIndex(path, false);
      EXPECT_EQ(getStats(stored), getStats(index));
      EXPECT_EQ(getEntries(stored), getEntries(index));
    }
  }
  EXPECT_GT(faults, 10);
}

}  // namespace
}  // namespace tallowmere
