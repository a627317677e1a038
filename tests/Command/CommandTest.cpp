// End-to-end tests of the tallowmere command: the built program runs in a fresh directory with
// a clean environment whose data directory is share/ inside it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tallowmere/Data/Fortune.hpp>
#include "Collection/CollectionSupport.hpp"
#include "Data/Fortune/FortuneFile/Storage.hpp"
#include "support/Command.hpp"
#include "support/TempDir.hpp"

namespace tallowmere::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

class CommandTest : public ::testing::Test {
 protected:
  CommandTest() {
    std::filesystem::create_directories(dir.path("share/data/normal"));
    std::filesystem::create_directories(dir.path("share/data/offensive"));
  }

  // Runs the command with `args` in the directory, `input` on standard input.
  Outcome run(const std::vector<std::string>& args, const std::string& input = "") const {
    return outcomeOf(runCommand(dir.path(), args, input, environment()));
  }
  // The same in a child set up as `setup` says.
  Outcome run(const std::vector<std::string>& args, const ChildSetup& setup) const {
    return outcomeOf(runCommand(dir.path(), args, "", environment(), setup));
  }

  std::vector<std::string> environment() const {
    return {"tallowmere_datadir=" + dir.path("share")};
  }

  static Outcome outcomeOf(const CommandOutcome& outcome) {
    return {outcome.exited ? outcome.status : 128 + outcome.signal, outcome.out, outcome.err};
  }

  std::string write(const std::string& name, const std::vector<std::string>& fortunes) const {
    return writeFortunes(dir, name, fortunes);
  }

  // How often each output comes up in draws with the seeds 1 to `draws`.
  std::map<std::string, int> tally(std::vector<std::string> args, int draws) const {
    std::map<std::string, int> counts;
    args.insert(args.begin(), {"--seed", ""});
    for (int seed = 1; seed <= draws; ++seed) {
      args[1] = std::to_string(seed);
      const Outcome outcome = run(args);
      EXPECT_EQ(outcome.status, 0) << outcome.err;
      ++counts[outcome.out];
    }
    return counts;
  }

  TempDir dir;
};

// Pearson's statistic of observed counts against expected probabilities.
double chiSquare(const std::map<std::string, int>& counts,
                 const std::map<std::string, double>& expected, int draws) {
  double statistic = 0;
  for (const auto& [outcome, probability] : expected) {
    const double want = probability * draws;
    const auto found = counts.find(outcome);
    const double got = found == counts.end() ? 0 : found->second;
    statistic += (got - want) * (got - want) / want;
  }
  return statistic;
}

TEST_F(CommandTest, DrawsOnlyFromTheFilesNamedOrFromTheSearchPathOfTheKind) {
  write("share/data/normal/collection", {"from the collection"});
  write("share/data/offensive/rude", {"from the offensive collection"});
  write("mine", {"mine"});
  std::filesystem::create_directories(dir.path("more"));
  write("more/other", {"from a directory"});
  for (int seed = 1; seed <= 10; ++seed) {
    const std::string s = std::to_string(seed);
    EXPECT_EQ(run({"--seed", s, "mine"}).out, "mine\n");
    EXPECT_EQ(run({"--seed", s, "more"}).out, "from a directory\n");
    EXPECT_EQ(run({"--seed", s}).out, "from the collection\n");
    EXPECT_EQ(run({"--seed", s, "-o"}).out, "from the offensive collection\n");
    EXPECT_EQ(run({"--seed", s, "rude", "-a"}).out, "from the offensive collection\n");
  }
  EXPECT_EQ(run({"-c", "mine"}).out, "(mine)\n%\nmine\n");
  const std::string listed = run({"list", "-a"}).out;
  EXPECT_THAT(listed, HasSubstr(dir.path("share/data/normal/collection") + "\n"));
  EXPECT_THAT(listed, HasSubstr(dir.path("share/data/offensive/rude") + "\n"));
  EXPECT_EQ(run({"list"}).out, dir.path("share/data/normal/collection") + "\n");
  // Nothing to draw from is an error that says where the files were looked for.
  std::filesystem::remove(dir.path("share/data/normal/collection"));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"-f"}, {"list"}, {"-m", "x"}}) {
    const Outcome nothing = run(args);
    EXPECT_EQ(nothing.status, 1);
    EXPECT_EQ(nothing.out, "");
    EXPECT_EQ(nothing.err,
              "tallowmere: no fortune files of the inoffensive kind: looked in the "
              "data directory (" +
                  dir.path("share/data/normal") +
                  ") and the classic collection (/nonexistent/classic)\n");
  }
}

TEST_F(CommandTest, SameSeedSameDrawAndAFileNamedLikeASubcommandIsReachedWithADotSlash) {
  write("count", {"one", "two", "three", "four", "five", "six"});
  const Outcome first = run({"--seed", "42", "./count"});
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(run({"--seed", "42", "./count"}).out, first.out);
  EXPECT_EQ(run({"count", "count"}).out, "6\n");
}

TEST_F(CommandTest, DrawsAreUniformPerFortuneOverFilesOfOneAndThreeFortunes) {
  write("one", {"A"});
  write("three", {"B", "C", "D"});
  const int draws = 400;
  const auto counts = tally({"one", "three"}, draws);
  EXPECT_LT(chiSquare(counts, {{"A\n", .25}, {"B\n", .25}, {"C\n", .25}, {"D\n", .25}}, draws), 20)
      << counts.at("A\n");
  // With -e the file of one fortune gets half of the draws.
  const auto equal = tally({"-e", "one", "three"}, draws);
  const double sixth = 1 / 6.;
  EXPECT_LT(chiSquare(equal, {{"A\n", .5}, {"B\n", sixth}, {"C\n", sixth}, {"D\n", sixth}}, draws),
            20);
}

TEST_F(CommandTest, EmptyFortunesAreNeverDrawnAndLengthsFilter) {
  const std::string longOne(200, 'x');
  dir.writeFile("mixed", "short\n%\n\n%\n" + longOne + "\n%\n");  // two empty fortunes
  for (int seed = 1; seed <= 20; ++seed) {
    const std::string s = std::to_string(seed);
    EXPECT_THAT(run({"--seed", s, "mixed"}).out, ::testing::AnyOf("short\n", longOne + "\n"));
    EXPECT_EQ(run({"--seed", s, "-s", "mixed"}).out, "short\n");
    EXPECT_EQ(run({"--seed", s, "--long", "mixed"}).out, longOne + "\n");
  }
  EXPECT_EQ(run({"-s", "-n", "200", "-f", "mixed"}).out, "100.00% mixed\n");
  const Outcome none = run({"-s", "-n", "4", "mixed"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, "tallowmere: mixed: no fortune of at most 4 characters\n");
}

TEST_F(CommandTest, WantedFortunesStayEquallyLikelyAmongUnwantedOnes) {
  // A draw first picks among all fortunes by the counts in the index headers, and only when it
  // meets an unwanted one draws again among the wanted ones: still 1/4 each here.
  dir.writeFile("gaps", "A\n%\n\n%\n\n%\n\n%\nB\n%\n\n%\nC\n");  // four empty fortunes
  write("more", {"D"});
  const int draws = 400;
  const auto counts = tally({"gaps", "more"}, draws);
  EXPECT_LT(chiSquare(counts, {{"A\n", .25}, {"B\n", .25}, {"C\n", .25}, {"D\n", .25}}, draws), 20)
      << counts.at("D\n");
}

TEST_F(CommandTest, SharesGoToTheirFilesAndTheRestIsSpreadByFortuneCounts) {
  write("a", {"1"});
  write("b", {"1", "2", "3"});
  write("c", {"1", "2", "3", "4", "5", "6"});
  EXPECT_EQ(run({"-f", "a", "b", "c"}).out, " 10.00% a\n 30.00% b\n 60.00% c\n");
  EXPECT_EQ(run({"-f", "40%", "a", "b", "c"}).out, " 40.00% a\n 20.00% b\n 40.00% c\n");
  EXPECT_EQ(run({"-f", "-e", "30%", "a", "b", "c"}).out, " 30.00% a\n 35.00% b\n 35.00% c\n");
  EXPECT_EQ(run({"-f", "12.5%", "c", "50%", "a", "b"}).out, " 12.50% c\n 50.00% a\n 37.50% b\n");
  EXPECT_EQ(run({"-f", "40%", "a", "60%", "c"}).out, " 40.00% a\n 60.00% c\n");
  for (int seed = 1; seed <= 10; ++seed) {
    EXPECT_EQ(run({"--seed", std::to_string(seed), "100%", "a", "c"}).out, "1\n");
  }

  const auto usageError = [this](const std::vector<std::string>& args, const std::string& message) {
    const Outcome outcome = run(args);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_THAT(outcome.err, StartsWith("tallowmere: " + message + "\nTry 'tallowmere --help'"));
    EXPECT_EQ(outcome.out, "");
  };
  usageError({"60%", "a", "50%", "b", "c"}, "the shares add up to 110%, more than 100%");
  usageError({"150%", "a", "b"}, "the share 150% of a is above 100%");
  usageError({"30%", "a", "20%", "b"},
             "the shares add up to 50%, and no file without a share is left to take the other 50%");
  usageError({"a", "30%"}, "the share 30% must be followed by a file or directory");
}

TEST_F(CommandTest, ADirectoryTakesItsShareAsAWhole) {
  std::filesystem::create_directories(dir.path("d"));
  write("d/x", {"1"});
  write("d/y", {"1", "2", "3"});
  write("a", {"1", "2"});
  const std::string shares = run({"-f", "50%", "d", "a"}).out;
  EXPECT_THAT(shares, HasSubstr(" 12.50% d/x\n"));
  EXPECT_THAT(shares, HasSubstr(" 37.50% d/y\n"));
  EXPECT_THAT(shares, HasSubstr(" 50.00% a\n"));
  std::filesystem::create_directories(dir.path("empty"));
  EXPECT_EQ(run({"empty"}).err, "tallowmere: empty: no fortune files in this directory\n");
}

TEST_F(CommandTest, OptionsFollowTheUsualConventions) {
  write("mixed", {"tiny", "a little longer"});
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-sn", "5", "mixed"},
                                               {"-sn5", "mixed"},
                                               {"mixed", "--short", "--length=5"},
                                               {"-l", "--length", "4", "-s", "mixed"}}) {
    EXPECT_EQ(run(args).out, "tiny\n") << args.front();
  }
  EXPECT_EQ(run({"add", "mixed", "--", "-- said nobody"}).status, 0);
  EXPECT_EQ(run({"get", "mixed", "2"}).out, "-- said nobody\n");
  EXPECT_EQ(run({"-m", "said", "--", "mixed"}).out, "-- said nobody\n%\n");
}

TEST_F(CommandTest, OutputThatCannotBeWrittenIsAFailure) {
  write("jokes", {"one"});
  const PreparedCommand command({"jokes"}, dir.path(), environment());
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  const int err = ::open(dir.path(".err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const pid_t child = command.start(in, full, err);
  for (const int fd : {in, full, err}) ::close(fd);
  const CommandOutcome outcome = waitBounded(child, std::chrono::seconds(60));
  EXPECT_EQ(outcomeOf(outcome).status, 1);
  EXPECT_THAT(dir.readFile(".err"), StartsWith("tallowmere: standard output: write error"));
}

TEST_F(CommandTest, MatchPrintsEveryMatchingFortuneWithItsFileOnStandardError) {
  write("drinks", {"Coffee first.", "Tea later.", "coffee again", "Water."});
  write("food", {"Bread.", "A coffee cake."});
  const Outcome matched = run({"-m", "coff?ee", "drinks", "food"});
  EXPECT_EQ(matched.status, 0);
  EXPECT_EQ(matched.out, "coffee again\n%\nA coffee cake.\n%\n");
  EXPECT_EQ(matched.err, "(drinks)\n%\n(food)\n%\n");
  EXPECT_EQ(run({"-i", "--match=^coffee", "drinks", "food"}).out,
            "Coffee first.\n%\ncoffee again\n%\n");
  const Outcome bad = run({"-m", "(", "drinks"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_THAT(bad.err, StartsWith("tallowmere: bad regular expression '('"));
  // The quick test that runs before the regular expression never drops a match: optional and
  // repeated parts, groups, brackets, escapes, case folding, text that is not UTF-8.
  write("words", {"color", "colour", "abababc", "xxy", "a.txt", "notes.txt",
                  "b\xFF\xFE"
                  "d",
                  "\xC3\x89t\xC3\xA9"});
  const std::map<std::string, std::string> matches = {
      {"colou?r", "color\n%\ncolour\n%\n"},
      {"(ab)*c", "color\n%\ncolour\n%\nabababc\n%\n"},
      {"x+y", "xxy\n%\n"},
      {"\\.txt$", "a.txt\n%\nnotes.txt\n%\n"},
      {"[ab]\\.t", "a.txt\n%\n"},
      {"^b.*d$",
       "b\xEF\xBF\xBD\xEF\xBF\xBD"
       "d\n%\n"},
      {"\xC3\xA9$", "\xC3\x89t\xC3\xA9\n%\n"},
      {"x{2}y", "xxy\n%\n"}};
  for (const auto& [regex, out] : matches) EXPECT_EQ(run({"-m", regex, "words"}).out, out) << regex;
  EXPECT_EQ(run({"-i", "-m", "COLO(U)?R", "words"}).out, "color\n%\ncolour\n%\n");
  const Outcome none = run({"-m", "tea party", "words", "drinks"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out + none.err, "");
}

TEST_F(CommandTest, AddAppendsFromTheArgumentOrStandardInputAndIndexCountGetStatsAgree) {
  EXPECT_EQ(run({"add", "new", "First."}).status, 0);  // creates the file
  EXPECT_EQ(run({"add", "new"}, "Second,\non two lines.\n\n").status, 0);
  EXPECT_EQ(dir.readFile("new"), "First.\n%\nSecond,\non two lines.\n");
  EXPECT_EQ(run({"count", "new"}).out, "2\n");
  EXPECT_EQ(run({"get", "new", "1"}).out, "Second,\non two lines.\n");
  EXPECT_EQ(run({"stats", "new"}).out,
            "numFortunes: 2\noffsetAfter: 30\nminChars: 6\nmaxChars: 21\nminLines: 1\n"
            "maxLines: 2\n");
  EXPECT_EQ(run({"check", "new"}).out, "new: ok, 2 fortunes\n");

  const Outcome split = run({"add", "new", "one\n%\ntwo"});
  EXPECT_EQ(split.status, 1);
  EXPECT_THAT(split.err, HasSubstr("the text holds a line with only the delimiter '%'"));
  EXPECT_EQ(run({"add", "new"}, "\n").status, 1);
  // Standard input is read as it is written: a delimiter line found past the first MiB still
  // refuses the fortune, and the file is put back.
  const std::string before = dir.readFile("new");
  const Outcome late = run({"add", "new"}, std::string(2 << 20, 'x') + "\n%\ny\n");
  EXPECT_EQ(late.status, 1);
  EXPECT_THAT(late.err, HasSubstr("the text holds a line with only the delimiter '%'"));
  EXPECT_EQ(dir.readFile("new"), before);
  EXPECT_EQ(run({"count", "new"}).out, "2\n");

  // Another delimiter: § is two bytes in UTF-8.
  EXPECT_EQ(run({"add", "-d", "§", "para", "x"}).status, 0);
  EXPECT_EQ(run({"add", "--delimiter=§", "para", "y"}).status, 0);
  EXPECT_EQ(dir.readFile("para"), "x\n§\ny\n");
  EXPECT_EQ(run({"get", "-d", "§", "para", "1"}).out, "y\n");
  EXPECT_EQ(run({"-m", "y", "-d", "§", "para"}).out, "y\n§\n");
}

TEST_F(CommandTest, IndexRebuildsAndCheckFindsDamagedAndOutdatedIndexes) {
  write("jokes", {"one", "two", "three"});
  EXPECT_EQ(run({"check", "jokes"}).out, "jokes: no index file jokes.ix\n");
  EXPECT_EQ(run({"index", "jokes"}).out, "jokes: 3 fortunes\n");
  EXPECT_EQ(run({"check", "jokes"}).out, "jokes: ok, 3 fortunes\n");

  // A damaged index does not stop the reading commands, which leave it as it is.
  dir.writeFile("jokes.ix", "not an index");
  EXPECT_EQ(run({"get", "jokes", "2"}).out, "three\n");
  EXPECT_EQ(run({"--seed", "3", "jokes"}).status, 0);
  EXPECT_EQ(dir.readFile("jokes.ix"), "not an index");
  const Outcome damaged = run({"check", "jokes"});
  EXPECT_EQ(damaged.status, 1);
  EXPECT_THAT(damaged.out, StartsWith("jokes: damaged index jokes.ix: "));
  EXPECT_EQ(run({"index", "jokes"}).status, 0);  // a damaged index is replaced
  EXPECT_EQ(run({"check", "jokes"}).status, 0);

  // The text changed behind the index's back, and its index is left as it was (an older
  // index would be stale).
  const auto modified = std::filesystem::last_write_time(dir.path("jokes.ix"));
  dir.writeFile("jokes", dir.readFile("jokes") + "%\nfour\n");
  std::filesystem::last_write_time(dir.path("jokes"), modified);
  const Outcome stale = run({"check", "jokes"});
  EXPECT_EQ(stale.status, 1);
  EXPECT_EQ(stale.out,
            "jokes: the index does not match the text from fortune 3 on; rebuild it with: "
            "tallowmere index jokes\n");
  EXPECT_EQ(run({"add", "jokes", "five"}).status, 0);  // add rebuilds first
  EXPECT_EQ(run({"check", "jokes"}).out, "jokes: ok, 5 fortunes\n");

  // The text cut behind the index's back: nothing reads through the stale index.
  const std::string indexed = dir.readFile("jokes.ix");
  write("jokes", {"one", "two"});
  const Outcome cut = run({"check", "jokes"});
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.out,
            "jokes: the index is stale: it describes more text than the file holds; rebuild it "
            "with: tallowmere index jokes\n");
  EXPECT_EQ(run({"count", "jokes"}).out, "2\n");
  EXPECT_EQ(run({"get", "jokes", "1"}).out, "two\n");
  EXPECT_EQ(run({"get", "jokes", "4"}).status, 1);
  for (int seed = 0; seed < 8; ++seed) {
    const std::string drawn = run({"--seed", std::to_string(seed), "jokes"}).out;
    EXPECT_TRUE(drawn == "one\n" || drawn == "two\n") << drawn;
  }
  EXPECT_EQ(dir.readFile("jokes.ix"), indexed);
  EXPECT_EQ(run({"index", "jokes"}).out, "jokes: 2 fortunes\n");

  // Statistics that opening repairs in memory are still reported.
  std::string index = dir.readFile("jokes.ix");
  index.replace(16, 4, std::string(4, '\0'));  // maxChars 0, below minChars
  dir.writeFile("jokes.ix", index);
  const Outcome badStats = run({"check", "jokes"});
  EXPECT_EQ(badStats.status, 1);
  EXPECT_THAT(badStats.out, HasSubstr("MaxLengthLessThanMinLength"));
}

// Indexes that cannot describe their text: nothing is read through them, and check says why.
TEST_F(CommandTest, IndexesWrongForTheTextAreNeverReadThrough) {
  write("t", {"alpha", "beta", "gamma"});
  ASSERT_EQ(run({"index", "t"}).status, 0);
  const std::string sound = dir.readFile("t.ix");
  const auto withEntry = [&](std::size_t number, const IndexEntry& entry) {
    std::string index = sound;
    index.replace(64 + 16 * number, 16, encodeIndexEntry(entry));
    dir.writeFile("t.ix", index);
  };
  // An entry over the whole text, then one past its end.
  withEntry(0, {0, 20, 20, 5});
  EXPECT_EQ(run({"get", "t", "0"}).out, "alpha\n");
  EXPECT_EQ(run({"-m", ".", "t"}).out, "alpha\n%\nbeta\n%\ngamma\n%\n");
  EXPECT_THAT(run({"check", "t"}).out,
              HasSubstr("damaged index t.ix: fortune 1 starts at byte 8, not after the "
                        "separator that ends fortune 0 (at byte 20)"));
  withEntry(0, {0, 5, 5, 1});
  withEntry(1, {800, 4, 4, 1});
  EXPECT_EQ(run({"-m", ".", "t"}).out, "alpha\n%\nbeta\n%\ngamma\n%\n");
  // Entries out of order: add rebuilds the index rather than extend it.
  withEntry(0, {8, 4, 4, 1});
  withEntry(1, {0, 5, 5, 1});
  EXPECT_EQ(run({"get", "t", "0"}).out, "alpha\n");
  EXPECT_EQ(run({"add", "t", "delta"}).status, 0);
  EXPECT_EQ(run({"check", "t"}).out, "t: ok, 4 fortunes\n");

  // A data file of 268 million fortunes for a text of 24 bytes, sparse on disk.
  write("classic", {"one", "two", "three"});
  std::string header = std::string("\0\0\0\x02\x0f\xff\xff\xff", 8) + std::string(12, '\0');
  header += std::string("%\0\0\0", 4);
  dir.writeFile("classic.dat", header);
  std::filesystem::resize_file(dir.path("classic.dat"),
                               strfileHeaderLength + std::uint64_t{4} * 268435456);
  EXPECT_EQ(run({"count", "classic"}).out, "3\n");
  EXPECT_EQ(run({"-m", "t", "classic"}).out, "two\n%\nthree\n%\n");
  EXPECT_EQ(run({"get", "classic", "2"}).out, "three\n");
}

TEST_F(CommandTest, CheckNamesAnInterruptedAppend) {
  dir.writeFile("t", "one\n%\ntwo\n");
  ASSERT_EQ(run({"index", "t"}).status, 0);
  // What an append of "three" killed half way leaves: its record past the table, part of it
  // written.
  dir.writeFile("t.ix", dir.readFile("t.ix") + detail::encodePendingAppend(
                                                   {{12, 5, 5, 1}, 9, 10, 18, std::string("\n")}));
  dir.writeFile("t", "one\n%\ntwo\n%\nthr");
  // The text is newer than its index, through the append the index records: a reader still
  // reads through the index, which never lists the fortune cut in part.
  EXPECT_EQ(run({"count", "t"}).out, "2\n");
  EXPECT_EQ(run({"check", "t"}).out,
            "t: an append to the file was interrupted; the next change to it undoes the append; "
            "rebuild it with: tallowmere index t\n");
  EXPECT_EQ(run({"add", "t", "four"}).status, 0);
  EXPECT_EQ(dir.readFile("t"), "one\n%\ntwo\n%\nfour\n");
  EXPECT_EQ(run({"check", "t"}).out, "t: ok, 3 fortunes\n");
}

// check compares a long table with the text a batch at a time: a difference is found where
// it lies, however deep, and statistics are compared once every entry matched.
TEST_F(CommandTest, CheckFindsDifferencesDeepInALongTable) {
  std::vector<std::string> fortunes;
  for (int i = 0; i < 10000; ++i) fortunes.push_back("fortune " + std::to_string(i));
  write("many", fortunes);
  ASSERT_EQ(run({"index", "many"}).out, "many: 10000 fortunes\n");
  const std::string sound = dir.readFile("many.ix");
  const auto checked = [&](std::size_t at, const std::string& bytes) {
    std::string index = sound;
    index.replace(at, bytes.size(), bytes);
    dir.writeFile("many.ix", index);
    return run({"check", "many"}).out;
  };
  const std::string advice = " on; rebuild it with: tallowmere index many\n";
  for (const std::size_t number : {std::size_t{4095}, std::size_t{4096}, std::size_t{9999}}) {
    // The stored length of fortune `number` one byte short.
    const std::size_t at = 64 + 16 * number + 4;
    std::string bytes = sound.substr(at, 4);
    bytes[3] = static_cast<char>(bytes[3] - 1);
    EXPECT_EQ(checked(at, bytes), "many: the index does not match the text from fortune " +
                                      std::to_string(number) + advice);
  }
  // maxChars 13 instead of 12: valid, but not what the text gives.
  EXPECT_EQ(checked(16, std::string("\0\0\0\x0d", 4)),
            "many: the statistics in the index header do not match the text; rebuild it with: "
            "tallowmere index many\n");
  EXPECT_EQ(checked(0, ""), "many: ok, 10000 fortunes\n");
}

TEST_F(CommandTest, FailuresNameTheFileAndUsageErrorsExitWithTwo) {
  write("jokes", {"one"});
  const auto expect = [this](const std::vector<std::string>& args, int status,
                             const std::string& err) {
    const Outcome outcome = run(args);
    EXPECT_EQ(outcome.status, status) << args.front();
    EXPECT_THAT(outcome.err, StartsWith(err)) << args.front();
  };
  expect({"missing"}, 1, "tallowmere: missing: no such fortune file or directory\n");
  expect({"get", "missing", "0"}, 1, "tallowmere: missing: no such file\n");
  expect({"get", "jokes", "1"}, 1,
         "tallowmere: jokes: no fortune number 1: the file holds 1 fortune, numbered 0 to 0\n");
  expect({"get", "jokes", "-1"}, 1,
         "tallowmere: jokes: no fortune number -1: the file holds 1 fortune, numbered 0 to 0\n");
  expect({"get", "jokes", "one"}, 2, "tallowmere: bad number for the fortune number: 'one'\n");
  expect({"-n", "x", "jokes"}, 2, "tallowmere: bad number for --length: 'x'\n");
  expect({"--seed", "-1"}, 2, "tallowmere: bad number for --seed: '-1'\n");
  expect({"--bogus"}, 2, "tallowmere: unknown option '--bogus'\nTry 'tallowmere --help'");
  expect({"-q"}, 2, "tallowmere: unknown option '-q'\n");
  expect({"-d"}, 2, "tallowmere: option '-d' needs a value\n");
  expect({"-d", "%%", "jokes"}, 2, "tallowmere: the delimiter must be a single character: '%%'\n");
  expect({"count"}, 2, "tallowmere: usage: tallowmere count [-d CHAR] [--json] FILE\n");
  expect({"index", "missing", "jokes"}, 1, "tallowmere: missing: no such file\n");

  const Outcome help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, StartsWith("Usage: tallowmere [OPTIONS] [[N%] FILE|DIR]..."));
  EXPECT_THAT(run({"--version"}).out,
              ::testing::MatchesRegex("tallowmere [0-9]+\\.[0-9]+\\.[0-9]+\n"));
}

// Another user of a shared directory plants symbolic links where a writer writes: at the names
// of the temporaries that earlier versions used, and at the index itself, leading out of the
// directory to a file of the writer's own. No link is written through, and none replaced.
TEST_F(CommandTest, AWriterNeverWritesThroughALinkPlantedInASharedDirectory) {
  namespace fs = std::filesystem;
  fs::create_directories(dir.path("shared"));
  fs::create_directories(dir.path("home"));
  const std::string notes = "the victim's own notes\n";
  const auto plant = [&](const std::string& name) {
    dir.writeFile("home/notes", notes);
    fs::remove(dir.path("shared/" + name));
    fs::create_symlink("../home/notes", dir.path("shared/" + name));
  };
  const auto isLink = [&](const std::string& name) {
    return fs::is_symlink(fs::symlink_status(dir.path("shared/" + name)));
  };
  // Each step writes through a temporary: the new index, the index, the data file.
  write("shared/jar", {"A", "B"});
  plant(".jar.ix.tmp");
  EXPECT_EQ(run({"add", "shared/jar", "C"}).status, 0);  // no index yet
  EXPECT_EQ(dir.readFile("home/notes"), notes) << "add, the index";
  plant(".jar.dat.tmp");
  EXPECT_EQ(run({"index", "--dat", "shared/jar"}).status, 0);
  EXPECT_EQ(dir.readFile("home/notes"), notes) << "index --dat, the data file";
  plant(".jar.ix.tmp");
  dir.writeFile("shared/jar", "A\n%\nB\n%\nC\n%\nD\n");  // changed behind the index's back
  EXPECT_EQ(run({"index", "--dat", "shared/jar"}).out, "shared/jar: 4 fortunes\n");
  EXPECT_EQ(dir.readFile("home/notes"), notes) << "index --dat, the index";
  plant(".jar.dat.tmp");
  EXPECT_EQ(run({"add", "shared/jar", "E"}).status, 0);
  EXPECT_EQ(dir.readFile("home/notes"), notes) << "add, the data file";
  EXPECT_FALSE(isLink("jar.ix") || isLink("jar.dat") || isLink(".jar.dat.tmp"));
  EXPECT_EQ(run({"get", "shared/jar", "4"}).out, "E\n");
  EXPECT_EQ(dir.readFile("shared/jar.dat"),
            encodeStrfile(buildStrfile(dir.readFile("shared/jar"))));

  // A link at the index's own path is refused, and left as it is.
  plant("jar.ix");
  const std::string text = dir.readFile("shared/jar");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"add", "shared/jar", "F"}, {"index", "shared/jar"}}) {
    const Outcome refused = run(args);
    EXPECT_EQ(refused.status, 1) << args[0];
    EXPECT_THAT(refused.err, StartsWith("tallowmere: shared/jar.ix: is a symbolic link; "))
        << args[0];
    EXPECT_EQ(dir.readFile("home/notes"), notes) << args[0];
    EXPECT_TRUE(isLink("jar.ix")) << args[0];
  }
  EXPECT_EQ(dir.readFile("shared/jar"), text);
}

// A replaced index and data file keep the mode of the files they replace (or, new, of the
// text), so that a writer's umask never takes other users' access away.
TEST_F(CommandTest, AReplacedIndexOrDataFileKeepsItsModeWhateverTheUmask) {
  const auto modeOf = [&](const std::string& name) {
    struct stat info {};
    if (::stat(dir.path(name).c_str(), &info) != 0) return std::string("missing");
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return std::string(octal);
  };
  write("jar", {"A", "B"});
  ::chmod(dir.path("jar").c_str(), 0644);
  const ChildSetup strict{.umask = 077};
  EXPECT_EQ(run({"index", "--dat", "jar"}, strict).status, 0);
  EXPECT_EQ(modeOf("jar.ix"), "0644");  // new: the text's
  EXPECT_EQ(modeOf("jar.dat"), "0644");
  ::chmod(dir.path("jar.ix").c_str(), 0640);
  dir.writeFile("jar", "A\n%\nB\n%\nC\n");  // the next add rewrites the index
  EXPECT_EQ(run({"add", "jar", "D"}, strict).status, 0);
  EXPECT_EQ(modeOf("jar.ix"), "0640");
  EXPECT_EQ(modeOf("jar.dat"), "0644");
  EXPECT_EQ(run({"count", "jar"}).out, "4\n");
}

// An index that the user may only read is used as it is when a rebuild would write it
// unchanged; when it would not, the failure names the index and says why.
TEST_F(CommandTest, IndexingAnUpToDateIndexThatMayOnlyBeReadWritesNothing) {
  write("jar", {"A", "B"});
  EXPECT_EQ(run({"index", "jar"}).status, 0);
  const std::string index = dir.readFile("jar.ix");
  ::chmod(dir.path("jar.ix").c_str(), 0444);
  const ChildSetup asUser{.withoutPermissionOverride = true};
  const Outcome current = run({"index", "jar"}, asUser);
  EXPECT_EQ(current.status, 0) << current.err;
  EXPECT_EQ(current.out, "jar: 2 fortunes\n");
  dir.writeFile("jar", "A\n%\nB\n%\nC\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"index", "jar"}, {"add", "jar", "D"}}) {
    const Outcome stale = run(args, asUser);
    EXPECT_EQ(stale.status, 1) << args[0];
    EXPECT_EQ(stale.err, "tallowmere: jar.ix: open for writing: Permission denied\n") << args[0];
  }
  EXPECT_EQ(dir.readFile("jar.ix"), index);
  EXPECT_EQ(dir.readFile("jar"), "A\n%\nB\n%\nC\n");
}

// A file of the classic tools: the text, every fortune followed by a delimiter line, and its
// data file as strfile writes it.
void writeClassic(const TempDir& dir, const std::string& name,
                  const std::vector<std::string>& fortunes, std::uint32_t flags = 0) {
  std::string text;
  for (const std::string& fortune : fortunes) text += fortune + "\n%\n";
  dir.writeFile(name, text);
  dir.writeFile(name + ".dat", encodeStrfile(buildStrfile(text, {'%', flags, false})));
}

TEST_F(CommandTest, TheClassicCollectionIsReadThroughItsDataFilesEachFileOnce) {
  std::filesystem::create_directories(dir.path("classic/off"));
  writeClassic(dir, "classic/wisdom", {"Wise one", "Wise two"});
  writeClassic(dir, "classic/off/rude", {rot13("Rude one")}, StrfileHeader::rotated);
  std::filesystem::create_symlink("wisdom", dir.path("classic/wisdom.u8"));
  dir.writeFile("classic/prog", std::string("\x7f"
                                            "ELF\0\0\0",
                                            7));
  const std::vector<std::string> classic = {"tallowmere_datadir=" + dir.path("share"),
                                            "tallowmere_classicdir=" + dir.path("classic")};
  const auto runClassic = [&](const std::vector<std::string>& args) {
    return outcomeOf(runCommand(dir.path(), args, "", classic));
  };
  for (int seed = 1; seed <= 6; ++seed) {
    EXPECT_THAT(runClassic({"--seed", std::to_string(seed)}).out,
                ::testing::AnyOf("Wise one\n", "Wise two\n"));
  }
  EXPECT_EQ(runClassic({"-o"}).out, "Rude one\n");
  // A text without a data file is no fortune file of the classic tools' own directory.
  EXPECT_EQ(runClassic({"-f"}).out, "100.00% " + dir.path("classic/wisdom") + "\n");
  EXPECT_EQ(runClassic({"-a", "-m", "[Rr]ude"}).out, "Rude one\n%\n");
  EXPECT_EQ(runClassic({"prog"}).err, "tallowmere: " + dir.path("classic/prog") +
                                          ": not a text file; fortune files hold text\n");
  EXPECT_EQ(run({"count", "classic/wisdom"}).out, "2\n");
  EXPECT_EQ(run({"get", "classic/off/rude", "0"}).out, "Rude one\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path("classic/wisdom.ix")));

  // Damaged data files are read around: the text is indexed in memory, and read as it is.
  const std::string data = dir.readFile("classic/wisdom.dat");
  std::string pastTheEnd = data;
  pastTheEnd[data.size() - 1] = '\x7f';
  std::string badVersion = data;
  badVersion[3] = '\x09';
  std::string tooMany = data;
  tooMany[7] = '\x7f';
  for (const std::string& damaged : {data.substr(0, 30), pastTheEnd, badVersion, tooMany}) {
    dir.writeFile("classic/wisdom.dat", damaged);
    EXPECT_EQ(run({"get", "classic/wisdom", "1"}).out, "Wise two\n");
    EXPECT_THAT(runClassic({"--seed", "3"}).out, ::testing::AnyOf("Wise one\n", "Wise two\n"));
  }
}

TEST_F(CommandTest, AddKeepsTheClassicLayoutAndTheDataFileAsStrfileWouldWriteThem) {
  dir.writeFile("mine", "One\n%\nTwo\n%\n");
  EXPECT_EQ(run({"index", "--dat", "mine"}).out, "mine: 3 fortunes\n");
  EXPECT_EQ(run({"add", "mine", "Three"}).status, 0);
  const std::string text = dir.readFile("mine");
  EXPECT_EQ(text, "One\n%\nTwo\n%\nThree\n%\n");
  EXPECT_EQ(dir.readFile("mine.dat"), encodeStrfile(buildStrfile(text)));
  EXPECT_EQ(run({"get", "mine", "2"}).out, "Three\n");
  EXPECT_EQ(run({"check", "mine"}).out, "mine: ok, 4 fortunes\n");
  if (::access("/usr/bin/strfile", X_OK) == 0 && ::access("/usr/games/fortune", X_OK) == 0) {
    // The classic tools read every fortune added.
    dir.writeFile("copy", text);
    ASSERT_EQ(std::system(("/usr/bin/strfile -s " + dir.path("copy") + " >/dev/null").c_str()), 0);
    EXPECT_EQ(dir.readFile("copy.dat"), dir.readFile("mine.dat"));
    FILE* found =
        ::popen(("/usr/games/fortune -m Three " + dir.path("mine") + " 2>/dev/null").c_str(), "r");
    ASSERT_NE(found, nullptr);
    char line[64] = {};
    EXPECT_NE(std::fgets(line, sizeof line, found), nullptr);
    ::pclose(found);
    EXPECT_STREQ(line, "Three\n");
  }
  // The delimiter is not in the index, so check's advice names it.
  dir.writeFile("para", "x\n\xC2\xA7\ny\n");
  EXPECT_EQ(run({"index", "-d", "\xC2\xA7", "para"}).status, 0);
  dir.writeFile("para", "x\n\xC2\xA7\ny\n\xC2\xA7\nz\n");
  EXPECT_THAT(run({"check", "-d", "\xC2\xA7", "para"}).out,
              HasSubstr("rebuild it with: tallowmere index -d \xC2\xA7 para\n"));
}

// Dates the file at `path` an hour back, as one written before the text beside it was edited.
void backdate(const std::string& path) {
  std::filesystem::last_write_time(
      path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
}

TEST_F(CommandTest, ATextEditedByHandIsReadAsItsTextSays) {
  const std::string before = "one\n%\ntwo\n";
  // Grown, so that the old entries would cut "a\n%" out of it; rewritten shorter; replaced by
  // an editor's rename with a longer text.
  const std::vector<std::string> edits = {"a\n%\nb\n%\nthree is new\n", "x\n%\nnew\n",
                                          "a much longer\nfirst one\n%\nnew at the end\n"};
  for (const bool classic : {false, true}) {
    for (std::size_t edit = 0; edit < edits.size(); ++edit) {
      SCOPED_TRACE((classic ? "through t.dat, edit " : "through t.ix, edit ") +
                   std::to_string(edit));
      std::filesystem::remove(dir.path("t.ix"));
      std::filesystem::remove(dir.path("t.dat"));
      dir.writeFile("t", before);
      if (classic) {
        dir.writeFile("t.dat", encodeStrfile(buildStrfile(before)));
      } else {
        ASSERT_EQ(run({"index", "t"}).status, 0);
      }
      backdate(dir.path(classic ? "t.dat" : "t.ix"));
      const std::string& after = edits[edit];
      if (edit == 2) {
        dir.writeFile("t.new", after);
        std::filesystem::rename(dir.path("t.new"), dir.path("t"));
      } else {
        dir.writeFile("t", after);
      }
      const std::string first = after.substr(0, after.find("\n%\n")) + "\n";
      EXPECT_EQ(run({"get", "t", "0"}).out, first);
      EXPECT_EQ(run({"count", "t"}).out, edit == 0 ? "3\n" : "2\n");
      EXPECT_THAT(run({"-m", "new", "t"}).out, HasSubstr("new"));
      for (const auto& [drawn, times] : tally({"t"}, 4)) {
        EXPECT_TRUE(after.find(drawn) != std::string::npos && drawn.find('%') == std::string::npos)
            << drawn;
      }
      EXPECT_THAT(run({"check", "t"}).out,
                  HasSubstr(classic ? "t: the data file t.dat is stale: the text was changed "
                                      "after it was written; rebuild it with: tallowmere index "
                                      "--dat t\n"
                                    : "t: the index is stale: "));
    }
  }
  // A rebuild that finds the index as it should be dates it, so that it looks stale no more.
  ASSERT_EQ(run({"index", "--dat", "t"}).status, 0);
  backdate(dir.path("t.ix"));
  backdate(dir.path("t.dat"));
  // Between the two: the clock files are dated by may lag behind the one given here.
  std::filesystem::last_write_time(
      dir.path("t"), std::filesystem::file_time_type::clock::now() - std::chrono::minutes(30));
  EXPECT_EQ(run({"index", "t"}).out, "t: 2 fortunes\n");
  EXPECT_EQ(run({"check", "t"}).out, "t: ok, 2 fortunes\n");
}

TEST_F(CommandTest, DataFilesOfEveryLayoutAreReadAndAddKeepsTheirLayout) {
  const std::string text = "Fog\n%\nRain and\nsleet\n%\nSnow\n%\n";
  for (const StrfileLayout layout :
       {StrfileLayout::Offsets32, StrfileLayout::Offsets64, StrfileLayout::Longs64}) {
    SCOPED_TRACE(static_cast<int>(layout));
    std::filesystem::remove(dir.path("w.ix"));
    dir.writeFile("w", text);
    StrfileData data = buildStrfile(text);
    data.layout = layout;
    dir.writeFile("w.dat", encodeStrfile(data));
    EXPECT_EQ(run({"count", "w"}).out, "3\n");
    EXPECT_EQ(run({"get", "w", "1"}).out, "Rain and\nsleet\n");
    EXPECT_EQ(run({"-m", "Sn", "w"}).out, "Snow\n%\n");
    EXPECT_EQ(run({"check", "w"}).out, "w: ok, 3 fortunes\n");
    ASSERT_EQ(run({"add", "w", "Hail"}).status, 0);
    const StrfileData added = decodeStrfile(dir.readFile("w.dat"));
    EXPECT_EQ(added.layout, layout);
    EXPECT_EQ(added.offsets, buildStrfile(dir.readFile("w")).offsets);
  }
  // index --dat writes the layout of this system's strfile.
  ASSERT_EQ(run({"index", "--dat", "w"}).status, 0);
  EXPECT_EQ(decodeStrfile(dir.readFile("w.dat")).layout, StrfileLayout::Offsets32);
  // One that fits no layout is not used, and check says why.
  std::filesystem::remove(dir.path("w.ix"));
  dir.writeFile("w.dat", dir.readFile("w.dat") + "junk");
  EXPECT_EQ(run({"get", "w", "3"}).out, "Hail\n");
  EXPECT_THAT(run({"check", "w"}).out, HasSubstr("cannot be used: decodeStrfileHead: fits no "
                                                 "layout of data file in use (with 32-bit"));
  // One that fits the text but lists other fortunes than it holds.
  const std::string now = dir.readFile("w");
  dir.writeFile("w.dat", encodeStrfile(buildStrfile(std::string(now.size() - 3, 'x') + "\n%\n")));
  EXPECT_EQ(run({"check", "w"}).out,
            "w: the data file w.dat does not list the fortunes of the text; rebuild it with: "
            "tallowmere index --dat w\n");
}

TEST_F(CommandTest, TheLocaleChoosesTheLanguagesCollectionLcAllFirst) {
  std::filesystem::create_directories(dir.path("classic/ru"));
  std::filesystem::create_directories(dir.path("classic/de"));
  for (const std::string name : {"classic/english", "classic/ru/anekdot", "classic/de/witze"}) {
    dir.writeFile(name, "From " + name + "\n%\n");
    dir.writeFile(name + ".dat", encodeStrfile(buildStrfile("From " + name + "\n%\n")));
  }
  const auto shares = [&](std::vector<std::string> variables) {
    variables.push_back("tallowmere_datadir=" + dir.path("share"));
    variables.push_back("tallowmere_classicdir=" + dir.path("classic"));
    return runCommand(dir.path(), {"-f"}, "", variables).out;
  };
  EXPECT_EQ(shares({"LC_ALL=ru_RU.UTF-8", "LANG=de_DE.UTF-8"}),
            "100.00% " + dir.path("classic/ru/anekdot") + "\n");
  EXPECT_EQ(shares({"LC_ALL=C", "LANG=de_DE.UTF-8"}),
            "100.00% " + dir.path("classic/english") + "\n");
}

TEST_F(CommandTest, WaitKeepsTheFortuneOnScreen) {
  write("mine", {"Read me slowly."});
  const CommandOutcome waiting =
      runCommand(dir.path(), {"-w", "mine"}, "", environment(), std::chrono::milliseconds(1500));
  EXPECT_TRUE(waiting.timedOut);
  EXPECT_EQ(waiting.out, "Read me slowly.\n");
}

TEST_F(CommandTest, ManyMoreFilesThanMayBeOpenAtOnce) {
  // 200 files, indexed and not, read within a limit of 32 open files.
  std::vector<std::string> names;
  for (int i = 0; i < 200; ++i) {
    const std::string name = "many/f" + std::to_string(i);
    std::filesystem::create_directories(dir.path("many"));
    write(name, {"saying " + std::to_string(i)});
    if (i % 2 == 0) rebuildIndex(openFortuneFile(U'%', true, dir.path(name), {.sync = false}));
    names.push_back(name);
  }
  const auto limited = [&](std::vector<std::string> args) {
    return outcomeOf(runCommand(dir.path(), args, "", environment(), std::chrono::seconds(60), 32));
  };
  EXPECT_THAT(limited({"many"}).out, StartsWith("saying "));
  EXPECT_EQ(limited({"-f", "many"}).status, 0);
  const std::string matched = limited({"-m", "saying 1[0-9]9$", "many"}).out;  // in listing order
  for (int i = 109; i < 200; i += 10) {
    EXPECT_THAT(matched, HasSubstr("saying " + std::to_string(i) + "\n%\n"));
  }
  EXPECT_EQ(matched.size(), 10 * std::string("saying 109\n%\n").size());
  std::vector<std::string> check = {"check"};
  for (int i = 0; i < 200; i += 2) check.push_back(names[static_cast<std::size_t>(i)]);
  EXPECT_EQ(limited(check).status, 0);
  const Outcome listed =
      outcomeOf(runCommand(dir.path(), {"list"}, "", {"TALLOWMERE_PATH=" + dir.path("many")},
                           std::chrono::seconds(60), 32));
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 200);
}

}  // namespace
}  // namespace tallowmere::test

namespace tallowmere::test {
namespace {

// A file of a directory that the user may not read (its text, or its text and its index) is
// left out of draws, shares, counts and searches with one line that names it; named, it fails.
TEST_F(CommandTest, AFileThatCannotBeReadIsLeftOutOfItsDirectory) {
  std::filesystem::create_directories(dir.path("dir"));
  write("dir/a", {"apple tart"});
  write("dir/b", {"apple pie"});
  write("dir/c", {"apple cake"});
  write("dir/d", {"apple crumble"});
  EXPECT_EQ(run({"index", "dir/d"}).status, 0);
  for (const char* name : {"dir/c", "dir/d", "dir/d.ix"}) ::chmod(dir.path(name).c_str(), 0);
  const ChildSetup asUser{.withoutPermissionOverride = true};
  const std::string warnings = "^(tallowmere: dir/[cd]: open: Permission denied; left out\n){2}$";
  for (const char* seed : {"1", "2", "3", "4", "5", "6"}) {
    const Outcome drawn = run({"--seed", seed, "dir"}, asUser);
    EXPECT_EQ(drawn.status, 0) << drawn.err;
    EXPECT_THAT(drawn.out, ::testing::AnyOf("apple tart\n", "apple pie\n"));
    EXPECT_THAT(drawn.err, ::testing::MatchesRegex(warnings));
  }
  const Outcome shares = run({"-f", "dir"}, asUser);
  EXPECT_EQ(shares.status, 0);
  EXPECT_THAT(shares.out, ::testing::HasSubstr(" 50.00% dir/a\n"));
  const Outcome matches = run({"-m", "apple", "dir"}, asUser);
  EXPECT_EQ(matches.status, 0);
  EXPECT_THAT(matches.out,
              ::testing::AnyOf("apple tart\n%\napple pie\n%\n", "apple pie\n%\napple tart\n%\n"));
  EXPECT_EQ(run({"dir/c"}, asUser).status, 1);
  EXPECT_EQ(run({"count", "dir/c"}, asUser).status, 1);
}

}  // namespace
}  // namespace tallowmere::test
