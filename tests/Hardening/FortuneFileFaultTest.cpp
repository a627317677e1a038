// Fortune file operations driven through a failure at every step they take, in memory: every
// file operation and every file-system operation of the Env fails in turn, in three ways.
//
//   fails     the step throws (EIO, or ENOSPC as a full disk does, storing half of a write)
//             and the operation goes on to clean up as it can;
//   crashes   the step and everything after it fail, as a process killed at that step leaves
//             the files;
//   power     the same, and then the machine loses what was never synced: every file, or all
//             but the text file, or all but the index file (which the system may have written
//             back on its own before the power went).
//
// Afterwards, with no repair step, a new reader counts and reads every acknowledged fortune
// and nothing else but, perhaps, the whole fortune of an append that never returned; the next
// writer leaves an index equal to a fresh rebuild of the text, with no fragment in it; and a
// handle that saw a plain failure goes on working.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include <tallowmere/Platform/MemoryEnv.hpp>
#include "Collection/CollectionSupport.hpp"
#include "support/FaultyFile.hpp"
#include "support/ReferenceScan.hpp"

namespace tallowmere {
namespace {

// Enough text for several runs of entry writes, with fortunes of one and of several lines and
// a few two-byte characters.
std::vector<std::string> sayings() {
  std::vector<std::string> fortunes;
  for (int i = 0; i < 600; ++i) {
    std::string text =
        "Saying " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 61), 'o');
    if (i % 7 == 0) text += "\non a second line";
    if (i % 11 == 0) text += " caf\xC3\xA9";
    fortunes.push_back(std::move(text));
  }
  return fortunes;
}

// Longer than a sector, so that a write of it can be cut short.
const std::string kAdded = "Added while the disk was failing" + std::string(600, '!');
const char* const kPath = "jar";

// The index before the operation: current, missing, or stale (the text was cut after
// fortune halfCount - 1 since it was indexed); or current for a text in the classic layout,
// where every fortune, the last included, is followed by a delimiter line.
enum class IndexBefore { Current, Missing, Stale, Classic };

struct Case {
  const char* name;
  bool writable;
  IndexBefore index;
  bool warm;  // the text file and the index are open before the operation
  std::function<void(const FortuneFile&)> run;
};

const Case kCases[] = {
    {"rebuild", true, IndexBefore::Current, true, [](const FortuneFile& f) { rebuildIndex(f); }},
    {"rebuild-cold", true, IndexBefore::Current, false,
     [](const FortuneFile& f) { rebuildIndex(f); }},
    {"append", true, IndexBefore::Current, true,
     [](const FortuneFile& f) { appendFortune(f, kAdded); }},
    {"append-cold", true, IndexBefore::Current, false,
     [](const FortuneFile& f) { appendFortune(f, kAdded); }},
    {"append-unindexed", true, IndexBefore::Missing, false,
     [](const FortuneFile& f) { appendFortune(f, kAdded); }},
    {"append-classic", true, IndexBefore::Classic, false,
     [](const FortuneFile& f) { appendFortune(f, kAdded); }},
    // The index describes a longer text than the file holds: the append rebuilds first.
    {"append-stale", true, IndexBefore::Stale, false,
     [](const FortuneFile& f) { appendFortune(f, kAdded); }},
    // A read-only file without an index file is indexed in memory on first use.
    {"count-read-only", false, IndexBefore::Missing, false,
     [](const FortuneFile& f) { (void)getNumFortunes(f); }},
};

enum class Mode { Fails, FullDisk, Crashes, PowerLoss, PowerLossButText, PowerLossButIndex };

void put(Env& env, const std::string& path, const std::string& bytes) {
  auto file = env.openFile(path, OpenMode::Truncate);
  file->writeAt(0, bytes);
  file->sync();
  env.syncDirectory(".");
}

std::string contents(Env& env, const std::string& path) {
  return env.openFile(path, OpenMode::ReadOnly)->readAt(0, std::size_t{1} << 30);
}

// The fortunes that the index of the fortune file lists, as a new reader reads them: the
// first, every hundredth and the last three (an append touches only the end; reading all of
// them at every step would make the test slow without finding more).
std::vector<std::string> listed(Env& env) {
  const FortuneFile reader = openFortuneFile('%', false, kPath, {.env = &env});
  std::vector<std::string> texts;
  const std::int64_t count = getNumFortunes(reader);
  for (std::int64_t i = 0; i < count; ++i) {
    texts.push_back(i % 100 == 0 || i + 3 >= count ? getFortune(reader, i) : std::string());
  }
  closeFortuneFile(reader);
  return texts;
}

// `fortunes` as listed shows them.
std::vector<std::string> sampled(std::vector<std::string> fortunes) {
  const std::size_t count = fortunes.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (i % 100 != 0 && i + 3 < count) fortunes[i].clear();
  }
  return fortunes;
}

class FortuneFileFaults : public ::testing::Test {
 protected:
  // The files before the operation.
  void prepare(MemoryEnv& env, const Case& c) const {
    const std::string& bytes = c.index == IndexBefore::Classic ? classicText : text;
    put(env, kPath,
        c.index == IndexBefore::Stale
            ? test::fortuneText(
                  {fortunes.begin(), fortunes.begin() + static_cast<std::ptrdiff_t>(halfCount)})
            : bytes);
    if (c.index != IndexBefore::Missing) put(env, std::string(kPath) + ".ix", indexOf(bytes));
  }

  // The fortunes of the text before the operation.
  std::vector<std::string> before(const Case& c) const {
    if (c.index != IndexBefore::Stale) return fortunes;
    return {fortunes.begin(), fortunes.begin() + static_cast<std::ptrdiff_t>(halfCount)};
  }

  // The index file of a text.
  static std::string indexOf(const std::string& bytes) {
    MemoryEnv env;
    put(env, kPath, bytes);
    rebuildIndex(openFortuneFile('%', true, kPath, {.env = &env}));
    return contents(env, std::string(kPath) + ".ix");
  }

  // A new reader lists the fortunes from before, and perhaps the one added: surely when the
  // append returned (and the machine kept its data), and never in part.
  void expectListed(MemoryEnv& env, const Case& c, bool added, bool maybeAdded,
                    const std::vector<std::string>& after = {}) const {
    std::vector<std::string> expected = before(c);
    std::vector<std::string> withAdded = expected;
    withAdded.push_back(kAdded);
    expected.insert(expected.end(), after.begin(), after.end());
    withAdded.insert(withAdded.end(), after.begin(), after.end());
    if (c.index == IndexBefore::Classic) {
      // The empty fortune after the last delimiter line stays last.
      expected.emplace_back();
      withAdded.emplace_back();
    }
    expected = sampled(expected);
    withAdded = sampled(withAdded);
    const std::vector<std::string> now = listed(env);
    const bool ok = added ? now == withAdded : now == expected || (maybeAdded && now == withAdded);
    EXPECT_TRUE(ok) << now.size() << " fortunes listed, " << expected.size()
                    << " expected; the last: " << (now.empty() ? "" : now.back());
  }

  // The index file lists exactly what a fresh rebuild of the text would.
  static void expectRebuildsAlike(MemoryEnv& env) {
    const Index stored = openIndex(std::string(kPath) + ".ix", false, env);
    EXPECT_EQ(getEntries(stored), test::referenceScan(contents(env, kPath), U'%'));
    closeIndex(stored);
  }

  const std::vector<std::string> fortunes = sayings();
  const std::size_t halfCount = 300;
  const std::string text = test::fortuneText(fortunes);
  const std::string classicText = text + "%\n";
};

TEST_F(FortuneFileFaults, EveryStepFailingOrCrashingLosesNoFortuneAndListsNoFragment) {
  long faults = 0;
  for (const Case& c : kCases) {
    for (Mode mode : {Mode::Fails, Mode::FullDisk, Mode::Crashes, Mode::PowerLoss,
                      Mode::PowerLossButText, Mode::PowerLossButIndex}) {
      long k = 1;
      for (;; ++k) {
        SCOPED_TRACE(std::string(c.name) + ", mode " + std::to_string(static_cast<int>(mode)) +
                     ", failing at step " + std::to_string(k));
        MemoryEnv env;
        prepare(env, c);
        const auto plan = std::make_shared<test::Plan>();
        test::FaultyEnv faulty(env, plan);
        const FortuneFile file = openFortuneFile('%', c.writable, kPath, {.env = &faulty});
        if (c.warm) (void)getFortune(file, 1);
        plan->error = mode == Mode::FullDisk ? ENOSPC : EIO;
        const bool crash = mode != Mode::Fails && mode != Mode::FullDisk;
        plan->arm(k, crash);
        bool returned = true;
        try {
          c.run(file);
        } catch (const IOError& error) {
          returned = false;
          // A read-only file reports why its index file could not be used, not the fallback's
          // failure.
          if (c.writable) {
            EXPECT_EQ(error.errorCode(), plan->error) << error.what();
          }
        }
        if (!plan->fired()) break;  // ran to the end without reaching step k
        plan->arm(0);
        ++faults;
        const bool appending = std::string(c.name).rfind("append", 0) == 0;
        if (!crash && c.writable) {
          // Nothing lost, nothing half added; and the same handle goes on working.
          expectListed(env, c, appending && returned, false);
          appendFortune(file, "from the same handle");
          rebuildIndex(file);
          expectListed(env, c, appending && returned, false, {"from the same handle"});
        } else if (c.writable) {
          closeFortuneFile(file);
          if (mode == Mode::PowerLoss) env.loseUnsyncedData();
          if (mode == Mode::PowerLossButText) {
            env.loseUnsyncedData([](const std::string& path) { return path == kPath; });
          }
          if (mode == Mode::PowerLossButIndex) {
            env.loseUnsyncedData([](const std::string& path) { return path != kPath; });
          }
          // With no repair step, every acknowledged fortune; then the next writer.
          expectListed(env, c, appending && returned, appending);
          appendFortune(openFortuneFile('%', true, kPath, {.env = &env}), "and one more");
          expectListed(env, c, false, appending, {"and one more"});
        } else {
          EXPECT_EQ(listed(env), sampled(fortunes));
          EXPECT_FALSE(env.status(std::string(kPath) + ".ix").exists());
        }
        if (c.writable) expectRebuildsAlike(env);
        if (HasFailure()) return;
      }
      EXPECT_GT(k, 3) << c.name;
    }
  }
  std::cout << faults << " faults injected\n";
}

// A bulk load with syncing turned off, then syncFortuneFile: the power going out loses none of
// it, the names of the files created on the way included.
TEST(FortuneFileSync, BulkLoadSurvivesPowerLossOnceSynced) {
  MemoryEnv env;
  std::vector<std::string> fortunes(300);
  for (std::size_t i = 0; i < fortunes.size(); ++i) fortunes[i] = "Bulk " + std::to_string(i);
  const FortuneFile loader = openFortuneFile('%', true, kPath, {.env = &env, .sync = false});
  for (const std::string& fortune : fortunes) appendFortune(loader, fortune);
  syncFortuneFile(loader);
  closeFortuneFile(loader);
  env.loseUnsyncedData();
  EXPECT_EQ(listed(env), sampled(fortunes));
  EXPECT_TRUE(env.status(std::string(kPath) + ".ix").isFile());
}

}  // namespace
}  // namespace tallowmere
