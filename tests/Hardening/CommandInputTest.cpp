// Bad input through the command: damaged index files, unusual texts, link loops along a search
// path, and things that are not files where files are expected. Every run ends by itself (no
// signal, no hang) with the right output, or with a clear message and a non-zero status.
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune.hpp>
#include "Collection/CollectionSupport.hpp"
#include "support/Command.hpp"
#include "support/TempDir.hpp"

namespace tallowmere::test {
namespace {

using ::testing::AnyOf;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

class CommandInput : public ::testing::Test {
 protected:
  // Runs the command in the directory; a run that a signal or the time bound ended fails.
  CommandOutcome run(const std::vector<std::string>& args,
                     const std::vector<std::string>& environment = {}) const {
    CommandOutcome outcome = runCommand(dir.path(), args, "", environment);
    EXPECT_TRUE(outcome.exited) << args.front() << ": signal " << outcome.signal
                                << (outcome.timedOut ? ", timed out" : "");
    return outcome;
  }

  // The run gave `out` and nothing on standard error.
  void expectOutput(const std::vector<std::string>& args, const std::string& out) const {
    const CommandOutcome outcome = run(args);
    EXPECT_EQ(outcome.status, 0) << args.front() << ": " << outcome.err;
    EXPECT_EQ(outcome.out, out) << args.front();
    EXPECT_EQ(outcome.err, "") << args.front();
  }

  // The run failed with one line "tallowmere: <message>" that contains `mentions`.
  void expectFailure(const std::vector<std::string>& args, const std::string& mentions) const {
    const CommandOutcome outcome = run(args);
    EXPECT_EQ(outcome.status, 1) << args.front() << ": " << outcome.out;
    EXPECT_THAT(outcome.err, MatchesRegex("tallowmere: [^\n]+\n")) << args.front();
    EXPECT_THAT(outcome.err, HasSubstr(mentions)) << args.front();
  }

  // The run ended by itself with a status of 0, or of 1 with a one-line message (or, for -m,
  // none: nothing matched).
  void expectNoCrash(const std::vector<std::string>& args) const {
    const CommandOutcome outcome = run(args);
    if (outcome.status == 1 && outcome.err.empty() && args.front() == "-m") return;
    if (outcome.status != 0) {
      EXPECT_EQ(outcome.status, 1) << args.front() << ": " << outcome.err;
      EXPECT_THAT(outcome.err, MatchesRegex("tallowmere: [^\n]+\n")) << args.front();
    }
  }

  // check answered with one line about `name`: ok and a status of 0, or a problem and 1.
  void expectChecked(const std::string& name) const {
    const CommandOutcome outcome = run({"check", name});
    EXPECT_THAT(outcome.out, MatchesRegex(name + ": [^\n]+\n")) << outcome.err;
    EXPECT_EQ(outcome.status, outcome.out.rfind(name + ": ok, ", 0) == 0 ? 0 : 1);
  }

  TempDir dir;
};

// An index that opens as damaged is read around by the reading subcommands (which build one in
// memory), named by check, and replaced by index.
TEST_F(CommandInput, TruncatedAndRandomIndexFilesAreReadAroundReportedAndReplaced) {
  writeFortunes(dir, "jokes", {"one", "two", "three"});
  expectOutput({"index", "jokes"}, "jokes: 3 fortunes\n");
  const std::string good = dir.readFile("jokes.ix");
  std::vector<std::string> damaged;
  for (const std::size_t length : {0u, 1u, 4u, 10u, 63u, 64u, 72u, 85u, 111u}) {
    damaged.push_back(good.substr(0, length));
  }
  std::mt19937 random(7);
  for (const std::size_t length : {3u, 64u, 100u, 500u}) {
    std::string bytes(length, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    damaged.push_back(bytes);
    damaged.push_back(good.substr(0, 8) + bytes);  // past the magic number and the version
  }
  for (const std::string& bytes : damaged) {
    SCOPED_TRACE("an index of " + std::to_string(bytes.size()) + " bytes");
    dir.writeFile("jokes.ix", bytes);
    const bool truncated = good.compare(0, bytes.size(), bytes) == 0;
    if (truncated) {
      expectOutput({"get", "jokes", "1"}, "two\n");
      expectOutput({"count", "jokes"}, "3\n");
      EXPECT_THAT(run({"--seed", "5", "jokes"}).out, AnyOf("one\n", "two\n", "three\n"));
      EXPECT_THAT(run({"check", "jokes"}).out, StartsWith("jokes: damaged index jokes.ix: "));
    } else {
      expectNoCrash({"get", "jokes", "1"});
      expectNoCrash({"-m", ".", "jokes"});
      EXPECT_EQ(run({"check", "jokes"}).status, 1);
    }
    expectOutput({"index", "jokes"}, "jokes: 3 fortunes\n");
    expectOutput({"check", "jokes"}, "jokes: ok, 3 fortunes\n");
  }
}

// Every 32-bit field of the header and of the entries set to extreme values.
TEST_F(CommandInput, FieldCorruptedIndexesNeverCrashTheCommand) {
  writeFortunes(dir, "jokes", {"one", "two", "three"});
  expectOutput({"index", "jokes"}, "jokes: 3 fortunes\n");
  const std::string good = dir.readFile("jokes.ix");
  int variants = 0;
  for (std::size_t field = 0; field < good.size(); field += 4) {
    for (const char* value : {"\x00\x00\x00\x00", "\x7F\xFF\xFF\xFF", "\xFF\xFF\xFF\xFF"}) {
      std::string bytes = good;
      bytes.replace(field, 4, value, 4);
      if (bytes == good) continue;
      SCOPED_TRACE("field at byte " + std::to_string(field) + " set to " +
                   std::to_string(static_cast<unsigned char>(value[0])));
      dir.writeFile("jokes.ix", bytes);
      ++variants;
      expectNoCrash({"-m", ".", "jokes"});  // reads every fortune the index lists
      expectChecked("jokes");
    }
  }
  EXPECT_GT(variants, 60);
  expectOutput({"index", "jokes"}, "jokes: 3 fortunes\n");
  expectOutput({"get", "jokes", "2"}, "three\n");
}

TEST_F(CommandInput, UnusualTextsAreIndexedAndReadAsTheyAre) {
  // Invalid UTF-8 reads as replacement characters; the file still takes new fortunes.
  dir.writeFile("bytes", "caf\xE9\n%\n\xFF\n%\nok\n");
  expectOutput({"index", "bytes"}, "bytes: 3 fortunes\n");
  expectOutput({"get", "bytes", "0"}, "caf\xEF\xBF\xBD\n");
  expectOutput({"get", "bytes", "1"}, "\xEF\xBF\xBD\n");
  expectOutput({"add", "bytes", "new"}, "");
  expectOutput({"check", "bytes"}, "bytes: ok, 4 fortunes\n");
  expectNoCrash({"-m", "o", "bytes"});

  // NUL bytes pass through unchanged.
  dir.writeFile("nul", std::string("a\0b\n%\nc\n", 8));
  expectOutput({"index", "nul"}, "nul: 2 fortunes\n");
  expectOutput({"get", "nul", "0"}, std::string("a\0b\n", 4));
  EXPECT_EQ(run({"-m", "c", "nul"}).out, "c\n%\n");

  // A line of several megabytes.
  const std::string longLine(4 << 20, 'x');
  dir.writeFile("long", "short\n%\n" + longLine + "\n%\nend\n");
  expectOutput({"count", "long"}, "3\n");  // indexed in memory
  expectOutput({"index", "long"}, "long: 3 fortunes\n");
  expectOutput({"get", "long", "1"}, longLine + "\n");
  expectOutput({"--long", "long"}, longLine + "\n");
  expectOutput({"add", "long", "after"}, "");
  expectOutput({"check", "long"}, "long: ok, 4 fortunes\n");

  // No newline at all, and nothing at all.
  dir.writeFile("bare", "just one line");
  expectOutput({"get", "bare", "0"}, "just one line\n");
  expectOutput({"add", "bare", "two"}, "");
  EXPECT_EQ(dir.readFile("bare"), "just one line\n%\ntwo\n");
  dir.writeFile("empty", "");
  expectOutput({"count", "empty"}, "0\n");
  expectFailure({"empty"}, "empty: no fortune to draw");
  expectFailure({"get", "empty", "0"}, "no fortune number 0: the file holds none");
  expectOutput({"index", "empty"}, "empty: 0 fortunes\n");
  expectOutput({"check", "empty"}, "empty: ok, 0 fortunes\n");
}

// The lines of `text`, as a set.
std::set<std::string> linesOf(const std::string& text) {
  std::set<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.insert(line);
  return lines;
}

TEST_F(CommandInput, LinkLoopsAlongASearchPathEndTheWalk) {
  namespace fs = std::filesystem;
  fs::create_directories(dir.path("tree/sub"));
  writeFortunes(dir, "tree/a", {"A"});
  writeFortunes(dir, "tree/sub/b", {"B"});
  fs::create_directory_symlink("..", dir.path("tree/sub/back"));
  fs::create_directory_symlink(".", dir.path("tree/self"));
  const std::vector<std::string> searchPath = {"TALLOWMERE_PATH=+" + dir.path("tree")};
  const CommandOutcome listed = run({"list"}, searchPath);
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out.size(), (dir.path("tree/a") + "\n" + dir.path("tree/sub/b") + "\n").size());
  EXPECT_EQ(linesOf(listed.out), (std::set{dir.path("tree/a"), dir.path("tree/sub/b")}));
  for (const char* seed : {"1", "2", "3", "4"}) {
    EXPECT_THAT(run({"--seed", seed}, searchPath).out, AnyOf("A\n", "B\n"));
    EXPECT_THAT(run({"--seed", seed, "tree"}).out, AnyOf("A\n", "B\n"));
  }

  // Links that lead round to each other lead to no directory, so they count as files, and
  // opening one fails: the draw and the list leave them out and say so, a command given one
  // fails.
  fs::create_symlink("ring2", dir.path("tree/ring1"));
  fs::create_symlink("ring1", dir.path("tree/ring2"));
  EXPECT_EQ(linesOf(run({"list"}, searchPath).out), linesOf(listed.out));
  const CommandOutcome draw = run({}, searchPath);
  EXPECT_EQ(draw.status, 0);
  EXPECT_THAT(draw.out, AnyOf("A\n", "B\n"));
  EXPECT_THAT(draw.err, MatchesRegex("(tallowmere: .*ring[12]: open: Too many levels of symbolic "
                                     "links; left out\n){2}"));
  for (const char* command : {"tree/ring1", "get", "add"}) {
    std::vector<std::string> args = {command, "tree/ring1"};
    if (args[0] == "tree/ring1") args.pop_back();
    if (args[0] == "get") args.push_back("0");
    if (args[0] == "add") args.push_back("text");
    expectFailure(args, "tree/ring1: ");
    expectFailure(args, "Too many levels of symbolic links");
  }
}

TEST_F(CommandInput, SomethingElseWhereAFileIsExpected) {
  std::filesystem::create_directory(dir.path("d"));
  for (const char* reader : {"get", "count", "stats"}) {
    std::vector<std::string> args = {reader, "d"};
    if (args[0] == "get") args.push_back("0");
    expectFailure(args, "d: is a directory");
  }
  expectFailure({"add", "d", "text"}, "d: is a directory");
  expectFailure({"index", "d"}, "d: is a directory");
  expectFailure({"check", "d"}, "d: is a directory");

  // An index path that is a directory: reading does without it, writing reports it and
  // changes nothing.
  const std::string text = fortuneText({"one", "two", "three"});
  dir.writeFile("jokes", text);
  std::filesystem::create_directory(dir.path("jokes.ix"));
  expectOutput({"get", "jokes", "1"}, "two\n");
  expectOutput({"count", "jokes"}, "3\n");
  expectFailure({"add", "jokes", "four"}, "jokes.ix: open: Is a directory");
  expectFailure({"index", "jokes"}, "jokes.ix: open: Is a directory");
  expectFailure({"check", "jokes"}, "jokes.ix");
  EXPECT_EQ(dir.readFile("jokes"), text);
  expectFailure({"get", "jokes/x", "0"}, "jokes/x: Not a directory");

  // A FIFO without a writer must not stop the program.
  ASSERT_EQ(::mkfifo(dir.path("pipe").c_str(), 0600), 0);
  expectFailure({"get", "pipe", "0"}, "pipe");
  expectFailure({"pipe"}, "pipe: not a regular file");
  expectFailure({"count", "pipe"}, "pipe: not a regular file");
  expectFailure({"add", "pipe", "text"}, "pipe: not a regular file");
  expectFailure({"index", "pipe"}, "pipe: not a regular file");
}

// An index whose header claims more fortunes than its text can hold, or none over a text that
// has some, is not believed by the draws and counts: they read the text as it is.
TEST_F(CommandInput, HeaderCountsThatCannotBeTrueAreNotBelieved) {
  for (const std::int64_t claimed : {1000, 0}) {
    const std::string path = writeFortunes(dir, "t", {"alpha", "beta", "gamma"});
    rebuildIndex(openFortuneFile(U'%', true, path));
    std::string index = dir.readFile("t.ix");
    std::string header =
        encodeHeader(Header{FortuneStats{claimed, 17, 4, 5, 1, 1}, indexHeaderLength});
    index.replace(0, header.size(), header);
    index.resize(static_cast<std::size_t>(indexHeaderLength +
                                          indexEntryLength * std::max<std::int64_t>(claimed, 3)),
                 '\0');
    dir.writeFile("t.ix", index);
    EXPECT_EQ(run({"count", "t"}).out, "3\n") << claimed;
    EXPECT_EQ(run({"-f", "t"}).out, "100.00% t\n") << claimed;
    for (const char* seed : {"1", "2", "3", "4"}) {
      const CommandOutcome drawn = run({"--seed", seed, "t"});
      EXPECT_EQ(drawn.status, 0) << claimed << ": " << drawn.err;
      EXPECT_THAT(drawn.out, AnyOf("alpha\n", "beta\n", "gamma\n"));
    }
  }
}

}  // namespace
}  // namespace tallowmere::test
