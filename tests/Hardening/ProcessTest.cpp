// Several processes on one fortune file: the command's writing subcommands running at once, and
// a process killed in the middle of its appends.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Data/Fortune.hpp"
#include "support/Command.hpp"
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

void expectConsistent(const test::TempDir& dir, const std::string& name, std::size_t count) {
  const test::CommandOutcome check = runCommand(dir.path(), {"check", name});
  EXPECT_TRUE(check.exited && check.status == 0) << check.out << check.err;
  EXPECT_EQ(check.out, name + ": ok, " + std::to_string(count) + " fortunes\n");
  EXPECT_EQ(indexedFortunes(dir.path(name)), piecesOf(dir.readFile(name)));
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
      if (p < kProcesses) args = {"add", "shared", "p" + std::to_string(p) + " #" + std::to_string(i)};
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
        const pid_t child = commands[static_cast<std::size_t>(p * kEach + i)]->start(quiet, quiet, err);
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
    const test::CommandOutcome outcome = test::waitBounded(workers[static_cast<std::size_t>(p)], 120s);
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
    for (int i = 0; i < kEach; ++i) {
      EXPECT_EQ(mine[static_cast<std::size_t>(i)], "p" + std::to_string(p) + " #" + std::to_string(i));
    }
  }
  expectConsistent(dir, "shared", kProcesses * kEach);
  EXPECT_EQ(runCommand(dir.path(), {"count", "shared"}).out, "200\n");
}

// Appends fortunes "<tag> #0", "<tag> #1", ... to the fortune file at `path` until killed,
// writing the number of each one to `acks` once its append has returned. Runs in a forked child.
[[noreturn]] void appendUntilKilled(const std::string& path, const std::string& tag, int acks) {
  try {
    const FortuneFile file = openFortuneFile('%', true, path);
    for (int i = 0;; ++i) {
      appendFortune(file, tag + " #" + std::to_string(i));
      if (::write(acks, &i, sizeof i) != sizeof i) _exit(2);
    }
  } catch (...) {
    _exit(3);
  }
}

TEST(CommandProcesses, AProcessKilledWhileAppendingLeavesFilesThatTheNextAddOrIndexRepairs) {
  constexpr int kRounds = 12;
  test::TempDir dir;
  const std::string path = dir.path("jar");
  std::string text;
  std::set<std::string> acknowledged;
  for (int i = 0; i < 2000; ++i) {
    const std::string fortune = "An old saying, number " + std::to_string(i);
    text += fortune + (i + 1 < 2000 ? "\n%\n" : "\n");
    acknowledged.insert(fortune);
  }
  dir.writeFile("jar", text);
  std::mt19937 random(20240611);
  int inconsistent = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    int acks[2];
    ASSERT_EQ(pipe(acks), 0);
    const std::string tag = "round " + std::to_string(round);
    const pid_t child = fork();
    if (child == 0) {
      ::close(acks[0]);
      appendUntilKilled(path, tag, acks[1]);
    }
    ::close(acks[1]);
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 40));
    kill(child, SIGKILL);
    const test::CommandOutcome killed = test::waitBounded(child, 60s);
    EXPECT_EQ(killed.signal, SIGKILL) << "the appender ended by itself, status " << killed.status;
    int done = 0;
    for (int i; ::read(acks[0], &i, sizeof i) == sizeof i;) done = i + 1;
    ::close(acks[0]);
    for (int i = 0; i < done; ++i) acknowledged.insert(tag + " #" + std::to_string(i));

    if (runCommand(dir.path(), {"check", "jar"}).status != 0) ++inconsistent;
    const std::vector<std::string> repair =
        round % 2 == 0 ? std::vector<std::string>{"index", "jar"}
                       : std::vector<std::string>{"add", "jar", "after " + tag};
    const test::CommandOutcome repaired = runCommand(dir.path(), repair);
    ASSERT_TRUE(repaired.exited && repaired.status == 0) << repaired.err;
    if (round % 2 != 0) acknowledged.insert("after " + tag);

    const std::vector<std::string> indexed = indexedFortunes(path);
    expectConsistent(dir, "jar", indexed.size());
    const std::set<std::string> present(indexed.begin(), indexed.end());
    for (const std::string& fortune : acknowledged) {
      EXPECT_EQ(present.count(fortune), 1u) << "lost: " << fortune;
    }
    if (HasFailure()) return;
  }
  std::cout << kRounds << " appenders killed; " << inconsistent
            << " left an index that did not match the text\n";
}

}  // namespace
}  // namespace tallowmere
