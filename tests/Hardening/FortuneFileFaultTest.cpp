// Fortune file operations driven through failing files at every step they take: the text file
// and the index file fail their k-th operation between them, for every k. Afterwards the error
// is the one injected, the index held in memory is the one from before (or, after a rebuild
// got past clearing it, the cleared one), the text holds its old fortunes untouched, and the
// next operations work and bring the index back in line with the text.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Collection/CollectionSupport.hpp"
#include "FortuneFile/Support.hpp"
#include "Data/Fortune/FortuneFile.hpp"
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "support/FaultyFile.hpp"
#include "support/ReferenceScan.hpp"
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

using test::FaultyFile;

// Enough text for several read chunks and several runs of entry writes, with fortunes of one
// and of several lines and a few two-byte characters.
std::vector<std::string> sayings() {
  std::vector<std::string> fortunes;
  for (int i = 0; i < 1500; ++i) {
    std::string text = "Saying " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 61), 'o');
    if (i % 7 == 0) text += "\non a second line";
    if (i % 11 == 0) text += " caf\xC3\xA9";
    fortunes.push_back(std::move(text));
  }
  return fortunes;
}

struct Case {
  const char* name;
  bool writable;
  bool indexed;  // the index file exists before the operation
  bool warm;     // the text file and the index are open before the operation
  std::function<void(const FortuneFile&)> run;
};

const char* const kAdded = "Added while the disk was failing";

const Case kCases[] = {
    {"rebuild", true, true, true, [](const FortuneFile& f) { rebuildIndex(f); }},
    {"rebuild-cold", true, true, false, [](const FortuneFile& f) { rebuildIndex(f); }},
    {"append", true, true, true, [](const FortuneFile& f) { appendFortune(f, kAdded); }},
    {"append-cold", true, true, false, [](const FortuneFile& f) { appendFortune(f, kAdded); }},
    {"append-unindexed", true, false, false, [](const FortuneFile& f) { appendFortune(f, kAdded); }},
    // A read-only file without an index file is indexed in memory on first use.
    {"count-read-only", false, false, false, [](const FortuneFile& f) { getNumFortunes(f); }},
};

class FortuneFileFaults : public ::testing::Test {
 protected:
  FortuneFileFaults() {
    const FortuneFile model = openFortuneFile('%', true, dir.writeFile("model", text));
    rebuildIndex(model);
    before = getStats(getIndex(model));
    closeFortuneFile(model);
    indexBytes = dir.readFile("model.ix");
  }

  // A fortune file whose text file and index file both go through `plan`.
  FortuneFile open(const std::string& path, bool writable) const {
    return detail::openFortuneFileWith(
        '%', writable, path, [plan = plan](const std::string& name, OpenMode mode) {
          return std::make_unique<FaultyFile>(openFile(name, mode), plan);
        });
  }

  // Checks a fortune file after the operation failed; `added` is what a completed text write
  // appended.
  void checkAfterFailure(const Case& c, const FortuneFile& file, const std::string& name) const {
    const std::string now = dir.readFile(name);
    const bool appended = now == withAdded;
    EXPECT_TRUE(now == text || appended) << "the text was changed";
    if (!c.writable) {
      EXPECT_EQ(getNumFortunes(file), before.numFortunes);
      EXPECT_FALSE(std::filesystem::exists(dir.path(name + ".ix")));
      return;
    }
    if (c.warm) {
      const FortuneStats held = getStats(getIndex(file));
      EXPECT_TRUE(held == before || held == FortuneStats::mempty) << held;
    }
    // The next operations work, and a rebuild indexes every fortune of the text.
    rebuildIndex(file);
    EXPECT_EQ(test::entriesOf(file), appended ? entriesWithAdded : entries);
    appendFortune(file, "and one more");
    const std::int64_t count = getNumFortunes(file);
    EXPECT_EQ(count, before.numFortunes + (appended ? 2 : 1));
    EXPECT_EQ(getFortune(file, count - 1), "and one more");
    // The index file holds the same index.
    const Index stored = openIndex(dir.path(name + ".ix"), false);
    EXPECT_EQ(getEntries(stored), test::entriesOf(file));
    EXPECT_EQ(getStats(stored), getStats(getIndex(file)));
    closeIndex(stored);
  }

  test::TempDir dir;
  const std::vector<std::string> fortunes = sayings();
  const std::string text = test::fortuneText(fortunes);
  // The text after a completed append: the separator goes after the old final newline.
  const std::string withAdded = text + "%\n" + kAdded + "\n";
  const std::vector<IndexEntry> entries = test::referenceScan(text, U'%');
  const std::vector<IndexEntry> entriesWithAdded = test::referenceScan(withAdded, U'%');
  std::string indexBytes;
  FortuneStats before;
  std::shared_ptr<FaultyFile::Plan> plan = std::make_shared<FaultyFile::Plan>();
};

TEST_F(FortuneFileFaults, EveryFailedStepLeavesTheFortunesAndTheNextOperationWorks) {
  long faults = 0;
  for (const Case& c : kCases) {
    long k = 1;
    for (;; ++k) {
      const std::string name = std::string(c.name) + "-" + std::to_string(k);
      dir.writeFile(name, text);
      if (c.indexed) dir.writeFile(name + ".ix", indexBytes);
      plan->arm(0);
      const FortuneFile file = open(dir.path(name), c.writable);
      if (c.warm) {
        EXPECT_EQ(getFortune(file, 1), fortunes[1]);
      }
      plan->arm(k);
      try {
        c.run(file);
      } catch (const IOError& error) {
        // A read-only file reports why its index file could not be used, not the fallback's
        // failure.
        EXPECT_EQ(error.errorCode(), c.writable ? EIO : ENOENT) << error.what();
      }
      if (!plan->fired()) break;  // ran to the end without reaching step k
      plan->arm(0);
      ++faults;
      SCOPED_TRACE(std::string(c.name) + " failing at step " + std::to_string(k));
      checkAfterFailure(c, file, name);
      closeFortuneFile(file);
      if (HasFailure()) return;
    }
    EXPECT_GT(k, 5) << c.name;
    std::cout << c.name << ": " << k - 1 << " steps failed in turn\n";
  }
  std::cout << faults << " faults injected\n";
}

}  // namespace
}  // namespace tallowmere
