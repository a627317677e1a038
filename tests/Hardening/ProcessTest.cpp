// Several processes on one fortune file: writers, a rebuilder and readers at once; processes
// killed at random moments of their work; and a file-size limit. Each process opens its own
// handle, as separate programs do.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <tallowmere/Data/Fortune.hpp>
#include "FortuneFile/Support.hpp"
#include "support/Command.hpp"
#include "support/ExitChild.hpp"
#include "support/ReferenceScan.hpp"
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

using namespace std::chrono_literals;
using test::runCommand;

// The fortunes of a text written by appends, in file order.
std::vector<std::string> piecesOf(std::string text) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  text.pop_back();  // the final newline
  for (std::size_t from = 0;;) {
    const std::size_t at = text.find("\n%\n", from);
    pieces.push_back(text.substr(from, at - from));
    if (at == std::string::npos) return pieces;
    from = at + 3;
  }
}

// Every fortune that the index of the fortune file at `path` lists, read through it.
std::vector<std::string> indexedFortunes(const std::string& path) {
  return withFortuneFile('%', false, path, [](const FortuneFile& file) {
    std::vector<std::string> texts;
    for (std::int64_t i = 0; i < getNumFortunes(file); ++i) texts.push_back(getFortune(file, i));
    return texts;
  });
}

// The index file lists exactly what a fresh rebuild of the text would, and through it the
// fortunes are the pieces of the text.
void expectConsistent(const test::TempDir& dir, const std::string& name) {
  const Index stored = openIndex(dir.path(name + ".ix"), false);
  EXPECT_EQ(getEntries(stored), test::referenceScan(dir.readFile(name), U'%'));
  closeIndex(stored);
  EXPECT_EQ(indexedFortunes(dir.path(name)), piecesOf(dir.readFile(name)));
}

// Runs `work` in a child process, which exits with 0 when it returns, 3 when it throws (after
// saying why on standard error).
pid_t inChild(const std::function<void()>& work) {
  const pid_t child = fork();
  if (child != 0) return child;
  try {
    work();
  } catch (const std::exception& e) {
    std::cerr << "child: " << e.what() << '\n';
    test::exitChild(3);
  }
  test::exitChild(0);
}

std::string oldSaying(int i) { return "An old saying, number " + std::to_string(i); }
std::string writerSaying(int writer, int i) {
  return "p" + std::to_string(writer) + " #" + std::to_string(i);
}

TEST(CommandProcesses, EightProcessesAppendingAtOnceLoseNothingAndLeaveAMatchingIndex) {
  constexpr int kProcesses = 8, kEach = 25;
  test::TempDir dir;
  dir.writeFile("shared", "");
  // Laid out before forking: each worker process runs its commands one after the other, and
  // one more process rebuilds the index as often meanwhile.
  std::vector<std::unique_ptr<test::PreparedCommand>> commands;
  for (int p = 0; p <= kProcesses; ++p) {
    for (int i = 0; i < kEach; ++i) {
      std::vector<std::string> args = {"index", "shared"};
      if (p < kProcesses) args = {"add", "shared", writerSaying(p, i)};
      commands.push_back(std::make_unique<test::PreparedCommand>(args, dir.path()));
    }
  }
  const int quiet = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  ASSERT_GE(quiet, 0);
  std::vector<pid_t> workers;
  for (int p = 0; p <= kProcesses; ++p) {
    const int err = ::open(dir.path("p" + std::to_string(p) + ".err").c_str(),
                           O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const pid_t worker = fork();
    if (worker == 0) {
      for (int i = 0; i < kEach; ++i) {
        int status = 0;
        const pid_t child =
            commands[static_cast<std::size_t>(p * kEach + i)]->start(quiet, quiet, err);
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
          _exit(1);
        }
      }
      _exit(0);
    }
    ::close(err);
    ASSERT_GT(worker, 0);
    workers.push_back(worker);
  }
  ::close(quiet);
  for (int p = 0; p <= kProcesses; ++p) {
    const test::CommandOutcome outcome =
        test::waitBounded(workers[static_cast<std::size_t>(p)], 120s);
    EXPECT_TRUE(outcome.exited && outcome.status == 0)
        << "process " << p << ": " << dir.readFile("p" + std::to_string(p) + ".err");
  }

  const std::vector<std::string> texts = piecesOf(dir.readFile("shared"));
  EXPECT_EQ(texts.size(), std::size_t{kProcesses * kEach});
  for (int p = 0; p < kProcesses; ++p) {
    std::vector<std::string> mine;
    for (const std::string& text : texts) {
      if (text.rfind("p" + std::to_string(p) + " ", 0) == 0) mine.push_back(text);
    }
    ASSERT_EQ(mine.size(), std::size_t{kEach}) << "process " << p;
    for (int i = 0; i < kEach; ++i)
      EXPECT_EQ(mine[static_cast<std::size_t>(i)], writerSaying(p, i));
  }
  expectConsistent(dir, "shared");
  EXPECT_EQ(runCommand(dir.path(), {"check", "shared"}).out, "shared: ok, 200 fortunes\n");
}

// Whether a reader may meet `text` in the shared file of the next test.
bool isKnownSaying(const std::string& text) {
  return text.rfind("An old saying, number ", 0) == 0 ||
         (text.size() > 4 && text[0] == 'p' && text.substr(2, 2) == " #");
}

// Reads the fortune file at `path` until the file `stop` exists: the count must never go
// down, and every fortune read must be whole. Fails (throws) at the first that is not.
void readUntil(const std::string& path, const std::string& stop, unsigned seed) {
  std::mt19937 random(seed);
  std::int64_t seen = 0;
  while (::access(stop.c_str(), F_OK) != 0) {
    withFortuneFile('%', false, path, [&](const FortuneFile& file) {
      const std::int64_t count = getNumFortunes(file);
      if (count < seen) throw std::runtime_error("the count went down to " + std::to_string(count));
      seen = count;
      const auto any = static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(count));
      for (const std::int64_t i : {count - 1, any}) {
        const std::string text = getFortune(file, i);
        if (!isKnownSaying(text)) throw std::runtime_error("read a broken fortune: " + text);
      }
    });
    const std::string drawn = randomFortune({path});
    if (!isKnownSaying(drawn)) throw std::runtime_error("drew a broken fortune: " + drawn);
  }
}

TEST(LibraryProcesses, WritersARebuilderAndReadersAtOnceLoseNothing) {
  constexpr int kWriters = 4, kEach = 100, kOld = 300, kReaders = 2;
  test::TempDir dir;
  const std::string path = dir.path("shared");
  const std::string stop = dir.path("stop");
  std::vector<std::string> old;
  for (int i = 0; i < kOld; ++i) old.push_back(oldSaying(i));
  std::string text;
  for (const std::string& saying : old) text += (text.empty() ? "" : "%\n") + saying + "\n";
  dir.writeFile("shared", text);
  rebuildIndex(openFortuneFile('%', true, path));

  std::vector<pid_t> readers;
  for (int r = 0; r < kReaders; ++r) {
    readers.push_back(inChild([&] { readUntil(path, stop, 17u + static_cast<unsigned>(r)); }));
  }
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(inChild([&] {
      const FortuneFile file = openFortuneFile('%', true, path);
      for (int i = 0; i < kEach; ++i) appendFortune(file, writerSaying(w, i));
    }));
  }
  const pid_t rebuilder = inChild([&] {
    const FortuneFile file = openFortuneFile('%', true, path);
    while (::access(stop.c_str(), F_OK) != 0) {
      rebuildIndex(file);
      std::this_thread::sleep_for(2ms);
    }
  });
  for (const pid_t writer : writers) {
    const test::CommandOutcome outcome = test::waitBounded(writer, 120s);
    EXPECT_TRUE(outcome.exited && outcome.status == 0) << "a writer failed";
  }
  dir.writeFile("stop", "");
  for (const pid_t other : readers) {
    const test::CommandOutcome outcome = test::waitBounded(other, 60s);
    EXPECT_TRUE(outcome.exited && outcome.status == 0) << "a reader failed";
  }
  const test::CommandOutcome rebuilt = test::waitBounded(rebuilder, 60s);
  EXPECT_TRUE(rebuilt.exited && rebuilt.status == 0) << "the rebuilder failed";

  // Every fortune once, whole, each writer's in the order it wrote them, after the old ones.
  const std::vector<std::string> pieces = piecesOf(dir.readFile("shared"));
  ASSERT_EQ(pieces.size(), std::size_t{kOld + kWriters * kEach});
  EXPECT_EQ(std::vector<std::string>(pieces.begin(), pieces.begin() + kOld), old);
  for (int w = 0; w < kWriters; ++w) {
    int next = 0;
    for (const std::string& piece : pieces) {
      if (piece.rfind("p" + std::to_string(w) + " ", 0) == 0) {
        EXPECT_EQ(piece, writerSaying(w, next++));
      }
    }
    EXPECT_EQ(next, kEach) << "writer " << w;
  }
  expectConsistent(dir, "shared");
}

// The i-th fortune that an appender of round `tag` adds: every fourth one long enough that
// writing it takes the kernel many pages, so that a kill can cut it short.
std::string roundSaying(const std::string& tag, int i) {
  std::string saying = tag + " #" + std::to_string(i);
  if (i % 4 == 3) saying += std::string(256 * 1024, '.');
  return saying;
}

// Keeps changing the fortune file at `path` until killed: appending roundSaying(tag, 0), 1,
// ..., writing the number of each one to `acks` once its append has returned; or rebuilding
// the index again and again.
[[noreturn]] void changeUntilKilled(const std::string& path, const std::string& tag, bool append,
                                    int acks) {
  try {
    const FortuneFile file = openFortuneFile('%', true, path);
    for (int i = 0;; ++i) {
      if (!append) {
        rebuildIndex(file);
        continue;
      }
      appendFortune(file, roundSaying(tag, i));
      if (::write(acks, &i, sizeof i) != sizeof i) _exit(2);
    }
  } catch (...) {
    _exit(3);
  }
}

TEST(LibraryProcesses, KilledAtRandomMomentsNoAcknowledgedFortuneIsLostAndNoFragmentListed) {
  constexpr int kRounds = 105;
  test::TempDir dir;
  const std::string path = dir.path("jar");
  std::string text;
  std::multiset<std::string> acknowledged;
  for (int i = 0; i < 2000; ++i) {
    text += oldSaying(i) + (i + 1 < 2000 ? "\n%\n" : "\n");
    acknowledged.insert(oldSaying(i));
  }
  dir.writeFile("jar", text);
  rebuildIndex(openFortuneFile('%', true, path));
  const test::PreparedCommand indexCommand({"index", "jar"}, dir.path());
  const int quiet = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  std::mt19937 random(20240611);
  int killedMidway = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string tag = "round " + std::to_string(round);
    int acks[2];
    ASSERT_EQ(pipe(acks), 0);
    const int kind = round % 3;  // 0: the library appends, 1: it rebuilds, 2: `tallowmere index`
    pid_t child = -1;
    if (kind == 2) {
      child = indexCommand.start(quiet, quiet, quiet);
    } else {
      child = fork();
      if (child == 0) {
        ::close(acks[0]);
        changeUntilKilled(path, tag, kind == 0, acks[1]);
      }
    }
    ::close(acks[1]);
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (kind == 2 ? 8000 : 40000)));
    kill(child, SIGKILL);
    const test::CommandOutcome killed = test::waitBounded(child, 60s);
    if (killed.signal == SIGKILL) ++killedMidway;
    int done = 0;
    for (int i; ::read(acks[0], &i, sizeof i) == sizeof i;) done = i + 1;
    ::close(acks[0]);
    for (int i = 0; i < done; ++i) acknowledged.insert(roundSaying(tag, i));
    // The append that may have been killed before it returned, whole or not at all.
    const std::string pending = roundSaying(tag, done);

    // With no repair step, every acknowledged fortune is counted and readable, and nothing
    // else is listed but, perhaps, the whole fortune of the append that was cut off.
    const std::vector<std::string> listed = indexedFortunes(path);
    std::multiset<std::string> present(listed.begin(), listed.end());
    const bool pendingListed = kind == 0 && present.erase(pending) == 1;
    EXPECT_EQ(present, acknowledged);
    // The next writer leaves no fragment: the index is a fresh rebuild of a text that holds
    // the acknowledged fortunes and the one just added.
    appendFortune(openFortuneFile('%', true, path), "after " + tag);
    acknowledged.insert("after " + tag);
    if (pendingListed) acknowledged.insert(pending);
    const std::vector<std::string> after = indexedFortunes(path);
    EXPECT_EQ(std::multiset<std::string>(after.begin(), after.end()), acknowledged);
    if (kind == 0 || round % 10 == 0) expectConsistent(dir, "jar");
    if (HasFailure()) break;
  }
  ::close(quiet);
  std::cout << kRounds << " rounds, " << killedMidway << " processes killed while working\n";
}

TEST(LibraryProcesses, AFileSizeLimitLeavesTheTextAndTheIndexAsTheyWere) {
  test::TempDir dir;
  const std::string path = dir.path("jar");
  std::string text;
  for (int i = 0; i < 3000; ++i) text += (text.empty() ? "" : "%\n") + oldSaying(i) + "\n";
  dir.writeFile("jar", text);
  rebuildIndex(openFortuneFile('%', true, path));
  const std::string index = dir.readFile("jar.ix");
  // No file of the process may grow beyond `limit` bytes; the signal that would end it is
  // ignored, so that the write fails with EFBIG instead.
  const auto limited = [&](rlim_t limit, const std::function<void(const FortuneFile&)>& change) {
    return inChild([&] {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit bound{limit, limit};
      if (::setrlimit(RLIMIT_FSIZE, &bound) != 0) _exit(4);
      try {
        change(openFortuneFile('%', true, path));
      } catch (const IOError& e) {
        test::exitChild(e.errorCode() == EFBIG ? 5 : 6);
      }
    });
  };
  // Appending a fortune that would take the text past the limit; rebuilding an index that
  // would be larger than the limit.
  const pid_t appender = limited(text.size() + 100, [](const FortuneFile& file) {
    appendFortune(file, std::string(10000, 'x'));
  });
  EXPECT_EQ(test::waitBounded(appender, 60s).status, 5);
  EXPECT_EQ(dir.readFile("jar"), text);
  EXPECT_EQ(dir.readFile("jar.ix"), index);
  // Another program changed the text, so the new index differs from the old one.
  text = "A new first saying\n%\n" + text;
  dir.writeFile("jar", text);
  const pid_t rebuilder =
      limited(index.size() / 2, [](const FortuneFile& file) { rebuildIndex(file); });
  EXPECT_EQ(test::waitBounded(rebuilder, 60s).status, 5);
  EXPECT_EQ(dir.readFile("jar"), text);
  EXPECT_EQ(dir.readFile("jar.ix"), index);
  EXPECT_TRUE(test::temporariesOf(dir.path("jar.ix")).empty());
}

}  // namespace
}  // namespace tallowmere
