// End-to-end tests of what the command prints for programs (--json) and of the draws that pick
// a fortune for the day (--today) or one not shown before (--fresh).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Collection/CollectionSupport.hpp"
#include "support/Command.hpp"
#include "support/TempDir.hpp"

namespace tallowmere::test {
namespace {

using ::testing::HasSubstr;

// One line of JSON Lines read strictly as a flat object of strings, numbers, booleans and null:
// each member's value as a string (strings unescaped, the rest as written). No value for
// anything that is not such valid JSON.
class FlatJson {
 public:
  static std::optional<std::map<std::string, std::string>> parse(std::string_view text) {
    FlatJson reader{text};
    std::map<std::string, std::string> members;
    if (!reader.eat('{')) return std::nullopt;
    if (reader.eat('}')) return reader.rest_.empty() ? std::optional(members) : std::nullopt;
    do {
      std::optional<std::string> key = reader.string();
      if (!key || !reader.eat(':')) return std::nullopt;
      std::optional<std::string> value = reader.peek() == '"' ? reader.string() : reader.scalar();
      if (!value || !members.emplace(*key, *value).second) return std::nullopt;
    } while (reader.eat(','));
    if (!reader.eat('}') || !reader.rest_.empty()) return std::nullopt;
    return members;
  }

 private:
  explicit FlatJson(std::string_view text) : rest_(text) {}

  char peek() const { return rest_.empty() ? '\0' : rest_.front(); }
  bool eat(char c) {
    if (peek() != c) return false;
    rest_.remove_prefix(1);
    return true;
  }

  std::optional<std::string> scalar() {
    const std::size_t end = rest_.find_first_of(",}");
    const std::string word(rest_.substr(0, end));
    rest_.remove_prefix(word.size());
    static const std::regex number("-?(0|[1-9][0-9]*)(\\.[0-9]+)?([eE][-+]?[0-9]+)?");
    if (word == "true" || word == "false" || word == "null" || std::regex_match(word, number))
      return word;
    return std::nullopt;
  }

  std::optional<std::string> string() {
    if (!eat('"')) return std::nullopt;
    std::string out;
    while (!rest_.empty()) {
      const auto c = static_cast<unsigned char>(rest_.front());
      rest_.remove_prefix(1);
      if (c == '"') return out;
      if (c < 0x20) return std::nullopt;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      const char escape = peek();
      rest_.remove_prefix(rest_.empty() ? 0 : 1);
      const std::string_view simple = "\"\"\\\\//b\bf\fn\nr\rt\t";
      if (const std::size_t at = simple.find(escape); at != std::string_view::npos && at % 2 == 0) {
        out += simple[at + 1];
      } else if (escape == 'u' && rest_.size() >= 4) {
        // Only the escapes of control characters are expected: everything else is UTF-8.
        const unsigned long code = std::stoul(std::string(rest_.substr(0, 4)), nullptr, 16);
        if (code >= 0x20) return std::nullopt;
        out += static_cast<char>(code);
        rest_.remove_prefix(4);
      } else {
        return std::nullopt;
      }
    }
    return std::nullopt;
  }

  std::string_view rest_;
};

class DrawChoiceTest : public ::testing::Test {
 protected:
  DrawChoiceTest() { std::filesystem::create_directories(dir.path("share/data/normal")); }

  struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
  };

  Outcome run(const std::vector<std::string>& args, std::vector<std::string> extra = {}) const {
    extra.insert(extra.end(), environment.begin(), environment.end());
    const CommandOutcome outcome = runCommand(dir.path(), args, "", extra);
    return {outcome.exited ? outcome.status : 128 + outcome.signal, outcome.out, outcome.err};
  }

  // Every line of `out` as a JSON object; fails the test for a line that is not one.
  static std::vector<std::map<std::string, std::string>> jsonLines(const std::string& out) {
    std::vector<std::map<std::string, std::string>> objects;
    std::size_t start = 0;
    for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
      const auto object = FlatJson::parse(std::string_view(out).substr(start, end - start));
      EXPECT_TRUE(object) << out.substr(start, end - start);
      if (object) objects.push_back(*object);
    }
    EXPECT_EQ(start, out.size()) << "the output does not end in a newline";
    return objects;
  }

  // `count` fortunes "fortune 0", "fortune 1", ... in the data directory's file "many".
  void writeMany(int count) const {
    std::vector<std::string> fortunes;
    for (int i = 0; i < count; ++i) fortunes.push_back("fortune " + std::to_string(i));
    writeFortunes(dir, "share/data/normal/many", fortunes);
  }

  TempDir dir;
  std::vector<std::string> environment = {"tallowmere_datadir=" + dir.path("share"),
                                          "XDG_STATE_HOME=" + dir.path("state")};
};

// Every JSON output parses and holds the texts the plain output prints, quotes, backslashes,
// control characters and non-ASCII text included.
TEST_F(DrawChoiceTest, JsonLinesHoldWhatThePlainOutputPrints) {
  const std::string awkward = "She said \"\\n\" is\tnot\x01 a newline.\nCafé, naïve, 日本";
  const std::string path = writeFortunes(dir, "odd", {awkward, "plain"});

  const auto drawn = jsonLines(run({"--json", "--seed", "1", "odd"}).out);
  ASSERT_EQ(drawn.size(), 1u);
  EXPECT_EQ(drawn[0].at("text") + '\n', run({"--seed", "1", "odd"}).out);

  const Outcome matched = run({"--json", "-m", "said", "odd"});
  EXPECT_EQ(matched.err, "");
  const auto matches = jsonLines(matched.out);
  ASSERT_EQ(matches.size(), 1u);
  EXPECT_EQ(matches[0], (std::map<std::string, std::string>{{"file", "odd"},
                                                            {"number", "0"},
                                                            {"text", awkward},
                                                            {"characters", "48"},
                                                            {"lines", "2"}}));
  EXPECT_EQ(jsonLines(run({"get", "--json", "odd", "0"}).out), matches);

  EXPECT_EQ(jsonLines(run({"-f", "--json", "odd"}).out),
            (std::vector<std::map<std::string, std::string>>{
                {{"file", "odd"}, {"percent", "100"}, {"count", "2"}}}));
  EXPECT_EQ(jsonLines(run({"count", "--json", "odd"}).out),
            (std::vector<std::map<std::string, std::string>>{{{"file", "odd"}, {"count", "2"}}}));
  const auto stats = jsonLines(run({"stats", "--json", "odd"}).out);
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_EQ(stats[0].at("numFortunes"), "2");
  EXPECT_EQ(stats[0].at("maxLines"), "2");

  writeFortunes(dir, "share/data/normal/wisdom", {"Listen."});
  const auto listed = jsonLines(run({"list", "--json"}).out);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].at("file"), dir.path("share/data/normal/wisdom"));
  EXPECT_EQ(listed[0].at("format"), "unindexed");
}

// The day's fortune stays all day, follows the date, and over many days comes out even.
TEST_F(DrawChoiceTest, TodayIsStableForADayAndEvenOverDays) {
  writeMany(4);
  const auto onDay = [&](int day) {
    char date[16];
    std::snprintf(date, sizeof date, "2031-%02d-%02d", 1 + day / 28, 1 + day % 28);
    const Outcome outcome = run({"--today"}, {std::string("TALLOWMERE_TODAY=") + date});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    return outcome.out;
  };
  EXPECT_EQ(onDay(3), onDay(3));
  std::map<std::string, int> seen;
  for (int day = 0; day < 240; ++day) ++seen[onDay(day)];
  ASSERT_EQ(seen.size(), 4u);
  for (const auto& [text, days] : seen) EXPECT_NEAR(days, 60, 25) << text;

  const Outcome bad = run({"--today"}, {"TALLOWMERE_TODAY=2031-02-30"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_THAT(bad.err, HasSubstr("TALLOWMERE_TODAY: not a date of the form YYYY-MM-DD"));
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--today", "--fresh"},
                                               {"--fresh", "-e"},
                                               {"--fresh", "50%", "many"},
                                               {"--today", "-m", "x"},
                                               {"--fresh", "-f"}}) {
    EXPECT_EQ(run(args).status, 2) << args[1];
  }
}

// N draws show N different fortunes, then the next round shows them all again; without a
// place for the state, --fresh still draws.
TEST_F(DrawChoiceTest, FreshShowsEveryFortuneOnceARound) {
  writeMany(6);
  for (int round = 0; round < 2; ++round) {
    std::set<std::string> shown;
    for (int i = 0; i < 6; ++i) {
      const Outcome outcome = run({"--fresh"});
      EXPECT_EQ(outcome.err, "");
      shown.insert(outcome.out);
    }
    EXPECT_EQ(shown.size(), 6u) << "round " << round;
  }
  environment = {"tallowmere_datadir=" + dir.path("share")};  // no HOME, no XDG_STATE_HOME
  const Outcome stateless = run({"--fresh"});
  EXPECT_EQ(stateless.status, 0);
  EXPECT_EQ(stateless.err, "");
}

// Draws that run at once each take a fortune of their own, a draw killed at any moment loses
// nothing of the state, and a damaged state starts a new round after one line on stderr.
TEST_F(DrawChoiceTest, FreshStateSurvivesConcurrentDrawsKillsAndDamage) {
  writeMany(8);
  const PreparedCommand fresh({"--fresh"}, dir.path(), environment);
  const auto startDraw = [&](const std::string& out) {
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int fd = ::open(dir.path(out).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t child = fresh.start(in, fd, fd);
    ::close(in);
    ::close(fd);
    return child;
  };
  std::vector<pid_t> children;
  for (int i = 0; i < 5; ++i) children.push_back(startDraw(".out" + std::to_string(i)));
  std::set<std::string> shown;
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(waitBounded(children[static_cast<std::size_t>(i)], std::chrono::seconds(60)).status,
              0);
    shown.insert(dir.readFile(".out" + std::to_string(i)));
  }
  EXPECT_EQ(shown.size(), 5u);

  // Killed before, during or after its update: the state is the old one or the new one.
  const pid_t killed = startDraw(".killed");
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ::kill(killed, SIGKILL);
  (void)waitBounded(killed, std::chrono::seconds(60));
  const Outcome next = run({"--fresh"});
  EXPECT_EQ(next.err, "");
  EXPECT_EQ(shown.count(next.out), 0u);

  for (const auto& entry : std::filesystem::directory_iterator(dir.path("state/tallowmere"))) {
    if (entry.path().extension() != ".lock") {
      dir.writeFile("state/tallowmere/" + entry.path().filename().string(), "garbage");
    }
  }
  const Outcome damaged = run({"--fresh"});
  EXPECT_EQ(damaged.status, 0);
  EXPECT_THAT(damaged.err, ::testing::MatchesRegex("tallowmere: .*: damaged state of --fresh; a "
                                                   "new round begins\n"));
  EXPECT_EQ(run({"--fresh"}).err, "");
}

}  // namespace
}  // namespace tallowmere::test
