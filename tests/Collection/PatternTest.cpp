// Pattern: regular expressions over fortune texts, and the quick literal test that must never
// rule out a text that the regular expression matches.
#include <gtest/gtest.h>
#include <locale.h>
#include <regex.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune.hpp>

namespace tallowmere {
namespace {

// Makes a locale the calling thread's for the scope (the tests otherwise run in "C").
class ThreadLocale {
 public:
  explicit ThreadLocale(const char* name) : locale_(newlocale(LC_ALL_MASK, name, nullptr)) {
    if (locale_ == nullptr) throw std::runtime_error(std::string("no locale ") + name);
    previous_ = uselocale(locale_);
  }
  ~ThreadLocale() {
    uselocale(previous_);
    freelocale(locale_);
  }
  ThreadLocale(const ThreadLocale&) = delete;
  ThreadLocale& operator=(const ThreadLocale&) = delete;

 private:
  locale_t locale_;
  locale_t previous_ = nullptr;
};

// regexec alone on the whole text, compiled as Pattern compiles it, in the current locale.
class Reference {
 public:
  Reference(const std::string& expression, CaseMode caseMode) {
    const int flags =
        REG_EXTENDED | REG_NOSUB | (caseMode == CaseMode::Insensitive ? REG_ICASE : 0);
    compiled_ = regcomp(&regex_, expression.c_str(), flags) == 0;
  }
  ~Reference() {
    if (compiled_) regfree(&regex_);
  }
  Reference(const Reference&) = delete;
  Reference& operator=(const Reference&) = delete;

  [[nodiscard]] bool compiled() const { return compiled_; }
  [[nodiscard]] bool matches(const std::string& text) const {
    regmatch_t range{};
    range.rm_eo = static_cast<regoff_t>(text.size());
    return regexec(&regex_, text.c_str(), 1, &range, REG_STARTEND) == 0;
  }

 private:
  regex_t regex_{};
  bool compiled_ = false;
};

constexpr PatternOptions insensitive{CaseMode::Insensitive};

TEST(Pattern, BracketClassesAndGnuOperatorsNeverHideAMatch) {
  const std::string text = "room 5x here";
  for (const char* expression :
       {"[[:digit:]]x",    "r[[:alpha:]]om", "\\<room",        "room\\>",       "\\`room",
        "here\\'",         "\\broom\\b 5",   "r\\Boom",        "[]x]x? here",   "[^]a]x",
        "[[.5.]]x",        "[[=o=]]om",      "[[:space:]]5x",  "(ro)\\1m|room", "\\w\\W5",
        "room\\s5x\\s\\S", "ro+m 5",         "(room|hall) 5",  "x( here|$)",    "r(o){2}m",
        "5x{1,} ",         "q*room",         "room 5x here\\>"}) {
    const Pattern pattern(expression);
    EXPECT_TRUE(pattern.mayMatch(text)) << expression;
    EXPECT_TRUE(pattern.matches(text)) << expression;
  }
}

TEST(Pattern, TheLiteralEveryMatchHoldsRulesOutTextsWithoutIt) {
  const Pattern repeated("x{3}y");
  EXPECT_TRUE(repeated.mayMatch("axxxyb"));
  EXPECT_FALSE(repeated.mayMatch("xxy"));
  const Pattern plus("ab+c");  // one b at least
  EXPECT_TRUE(plus.mayMatch("abbbc"));
  EXPECT_FALSE(plus.mayMatch("ac"));
  const Pattern grouped("the (cat|car) sat");  // "the ca" and "t sat" in every match
  EXPECT_FALSE(grouped.mayMatch("the dog sat"));
  EXPECT_FALSE(grouped.matches("the dog sat"));
  EXPECT_TRUE(grouped.matches("so the car sat"));
  const Pattern escaped("a\\.b\\*");
  EXPECT_FALSE(escaped.mayMatch("axb*"));
  EXPECT_TRUE(escaped.matches("a.b*"));
  const Pattern folded("Colour", insensitive);
  EXPECT_TRUE(folded.mayMatch("my COLOUR"));
  EXPECT_FALSE(folded.mayMatch("colr"));
  EXPECT_TRUE(folded.matches("cOlOuR"));
  // Found at every place of a longer text, and not found when one character differs.
  const Pattern exact("CoLoUr");
  for (std::size_t at = 0; at + 6 <= 40; ++at) {
    std::string text(40, '-');
    text.replace(at, 6, "CoLoUr");
    EXPECT_TRUE(folded.mayMatch(text) && exact.mayMatch(text)) << text;
    text[at + 5] = 'x';
    EXPECT_FALSE(folded.mayMatch(text) || exact.mayMatch(text)) << text;
    text[at + 5] = 'R';
    EXPECT_TRUE(folded.mayMatch(text)) << text;
    EXPECT_FALSE(exact.mayMatch(text)) << text;
    text[at] = 'b';
    EXPECT_FALSE(folded.mayMatch(text)) << text;
  }
  // Nothing every match holds: every text may match.
  for (const char* expression : {"cat|x*", "a*", "[^ab]x?", "(x|)y?", "[[:alpha:]]"}) {
    EXPECT_TRUE(Pattern(expression).mayMatch("zzz")) << expression;
  }
}

TEST(Pattern, BracketsAndAlternativesRuleOutTextsWithoutOneOfTheirBytes) {
  const ThreadLocale utf8("C.UTF-8");
  const Pattern vowel("l[aeiou]ve");
  EXPECT_TRUE(vowel.matches("to live"));
  EXPECT_FALSE(vowel.mayMatch("lyve l ve lov"));
  const Pattern folded("L[AEOU]VE", insensitive);
  EXPECT_TRUE(folded.matches("Love"));
  EXPECT_FALSE(folded.mayMatch("LYVE"));
  // "\xC4\xB1" folds onto "I": a set that holds it says nothing, and "VE" is what is left.
  EXPECT_TRUE(Pattern("L[AI]VE", insensitive).mayMatch("LYVE"));
  EXPECT_TRUE(Pattern("L[AI]VE", insensitive).matches("l\xC4\xB1ve"));
  const Pattern year("[0-9]{4}");
  EXPECT_TRUE(year.matches("in 1984"));
  EXPECT_FALSE(year.mayMatch("in 198x4"));
  const Pattern grey("gr(a|e)y");  // gr, one of a and e, y
  EXPECT_TRUE(grey.matches("grey"));
  EXPECT_FALSE(grey.mayMatch("groy gry"));
  const Pattern either("cat|dog");  // c or d, a or o, t or g
  EXPECT_FALSE(either.mayMatch("cab"));
  EXPECT_TRUE(either.mayMatch("cog"));
  EXPECT_FALSE(either.matches("cog"));
  // A digit class holds only ASCII digits; a bracket holding a longer character, or a class of
  // letters, says nothing of the bytes.
  EXPECT_FALSE(Pattern("x[[:digit:]]").mayMatch("x\xD9\xA3"));
  EXPECT_TRUE(Pattern("x[\xC3\xA9"
                      "a]")
                  .matches("x\xC3\xA9"));
  EXPECT_TRUE(Pattern("x[[:alpha:]]").matches("x\xC3\xA9"));
  // Of a literal longer than is kept whole, its end still rules out texts.
  std::string longLiteral;
  for (int i = 0; i < 1500; ++i) longLiteral += "ab\xC3\xA9";
  const Pattern longOne(longLiteral + "[xy]");
  EXPECT_TRUE(longOne.matches("<" + longLiteral + "y>"));
  EXPECT_FALSE(longOne.mayMatch(longLiteral));
  EXPECT_FALSE(longOne.mayMatch(longLiteral.substr(0, longLiteral.size() - 2) + "ex"));
  // Under Insensitive, a letter that another character folds onto says nothing either.
  EXPECT_TRUE(Pattern("[r-t]his", insensitive).matches("\xC5\xBFhis"));
}

TEST(Pattern, IsCompiledAndRunInTheLocaleOfTheThreadThatBuiltIt) {
  const std::string eAcute = "\xC3\xA9";
  std::optional<Pattern> oneCharacter;
  std::optional<Pattern> ignoringCase;
  {
    const ThreadLocale utf8("C.UTF-8");
    oneCharacter.emplace("^.$");
    ignoringCase.emplace("caf\xC3\x89", insensitive);
    // Letters that other characters fold onto under REG_ICASE: "ſ" is "S", "ı" is "I".
    const Pattern s("this", insensitive);
    EXPECT_TRUE(s.matches("TIME FOR THI\xC5\xBF"));
    EXPECT_TRUE(s.matches("th\xC4\xB1s"));
  }
  // Back in "C", where "." is one byte.
  EXPECT_FALSE(Pattern("^.$").matches(eAcute));
  EXPECT_TRUE(oneCharacter->matches(eAcute));
  EXPECT_TRUE(ignoringCase->matches("CAF" + eAcute));
}

TEST(Pattern, MatchesTheLenientDecodingOfInvalidUtf8AndTheWholeText) {
  const ThreadLocale utf8("C.UTF-8");
  const std::vector<std::string> texts = {"caf\xE9",
                                          "\xFF",
                                          "a\xC3",
                                          "\xED\xA0\x80z",
                                          "ok\xF0\x9F",
                                          "\xEF\xBF\xBD",
                                          "b\xFF\xFE"
                                          "d"};
  for (const char* expression : {"\xEF\xBF\xBD", "caf.$", "^.$", "a.$", "^b..d$", "\xBF", "z$"}) {
    const Pattern pattern(expression);
    const Reference reference(expression, CaseMode::Sensitive);
    for (const std::string& text : texts) {
      EXPECT_EQ(pattern.matches(text), reference.matches(decodeUtf8Leniently(text)))
          << expression << " on " << text;
    }
  }
  // A NUL byte does not end the text.
  EXPECT_TRUE(Pattern("b").matches(std::string("a\0b", 3)));
}

TEST(Pattern, BadExpressionsThrowBadPatternAndPatternsMove) {
  const std::map<std::string, std::string> bad = {
      {"(", "bad regular expression '(': "},
      {"a{2,1}", "bad regular expression 'a{2,1}': "},
      {std::string("x\0y", 3), "bad regular expression 'x\\0y': it holds a NUL byte"}};
  for (const auto& [expression, message] : bad) {
    try {
      const Pattern pattern(expression);
      ADD_FAILURE() << "no error for " << expression;
    } catch (const IOError& e) {
      EXPECT_TRUE(e.isUserError());
      EXPECT_EQ(e.reason(), ErrorReason::BadPattern);
      EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0u) << e.what();
    }
  }
  Pattern moved("ne+dle");
  Pattern target(std::move(moved));
  EXPECT_TRUE(target.matches("a needle"));
  moved = Pattern("other", insensitive);
  target = std::move(moved);
  EXPECT_EQ(target.expression(), "other");
  EXPECT_EQ(target.options().caseMode, CaseMode::Insensitive);
  EXPECT_TRUE(target.matches("OTHER"));
}

// Patterns built at random from the pieces the literal reader must understand or step over.
class PatternGenerator {
 public:
  explicit PatternGenerator(std::uint32_t seed) : random_(seed) {}

  std::string expression(int depth = 0) {
    std::string out = branch(depth);
    while (pick(4) == 0) out += "|" + branch(depth);
    return out;
  }

  std::string text() {
    static const std::vector<std::string> pieces = {"a",
                                                    "b",
                                                    "A",
                                                    "B",
                                                    "1",
                                                    " ",
                                                    ".",
                                                    "*",
                                                    "x",
                                                    "s",
                                                    "\xC3\xA9",
                                                    "\xC5\xBF",
                                                    "\xC4\xB1",
                                                    "\xFF",
                                                    "e",
                                                    "i",
                                                    "k",
                                                    "-",
                                                    "\xE2\x84\xAA",
                                                    "\xD9\xA3"};
    std::string out;
    for (std::size_t n = pick(pick(4) == 0 ? 40 : 10); n > 0; --n)
      out += pieces[pick(pieces.size())];
    return out;
  }

 private:
  std::size_t pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
  }

  std::string branch(int depth) {
    static const std::vector<std::string> atoms = {"a",
                                                   "b",
                                                   "A",
                                                   "s",
                                                   "I",
                                                   "1",
                                                   " ",
                                                   "x",
                                                   "\xC3\xA9",
                                                   ".",
                                                   "[[:digit:]]",
                                                   "[[:alpha:]b]",
                                                   "[^a]",
                                                   "[]a]",
                                                   "[a-c]",
                                                   "[[.a.]]",
                                                   "[[=b=]]",
                                                   "\\w",
                                                   "\\W",
                                                   "\\s",
                                                   "\\S",
                                                   "\\.",
                                                   "\\*",
                                                   "\\1",
                                                   "\\]",
                                                   "\\n",
                                                   "[aeiou]",
                                                   "[a-cA]",
                                                   "[[:upper:]]",
                                                   "[[:xdigit:]]",
                                                   "[sS]",
                                                   "[i-k]",
                                                   "[\xC3\xA9"
                                                   "a]",
                                                   "[^a-c]",
                                                   "(a|b)",
                                                   "(ab|ba)",
                                                   "[[:digit:][:alpha:]]",
                                                   "[-a]"};
    static const std::vector<std::string> anchors = {"^",   "$",   "\\<", "\\>",
                                                     "\\b", "\\B", "\\`", "\\'"};
    static const std::vector<std::string> quantifiers = {"*",     "+",    "?",   "{2}", "{1,}",
                                                         "{0,1}", "{,2}", "{0}", "+?"};
    std::string out;
    for (std::size_t n = 1 + pick(4); n > 0; --n) {
      if (pick(6) == 0) {
        out += anchors[pick(anchors.size())];
        continue;
      }
      out +=
          depth < 2 && pick(4) == 0 ? "(" + expression(depth + 1) + ")" : atoms[pick(atoms.size())];
      if (pick(3) == 0) out += quantifiers[pick(quantifiers.size())];
    }
    return out;
  }

  std::mt19937 random_;
};

// For patterns and texts made at random: mayMatch is true whenever regexec matches, and
// matches says what regexec says of the leniently decoded text.
void expectNoMissedMatch(CaseMode caseMode) {
  PatternGenerator generate(20240611);
  int compiled = 0;
  int ruledOut = 0;
  int matched = 0;
  int failures = 0;
  for (int round = 0; round < 2500 && failures < 10; ++round) {
    const std::string expression = generate.expression();
    const Reference reference(expression, caseMode);
    if (!reference.compiled()) {
      EXPECT_THROW(Pattern(expression, PatternOptions{caseMode}), IOError) << expression;
      continue;
    }
    ++compiled;
    const Pattern pattern(expression, {caseMode});
    for (int t = 0; t < 30; ++t) {
      const std::string text = generate.text();
      const bool expected = reference.matches(decodeUtf8Leniently(text));
      const bool may = pattern.mayMatch(text);
      matched += expected;
      ruledOut += !may;
      if ((expected && !may) || pattern.matches(text) != expected) {
        ADD_FAILURE() << "'" << expression << "' on '" << text << "': regexec " << expected
                      << ", mayMatch " << may;
        ++failures;
      }
    }
  }
  // The generated cases exercise both sides.
  EXPECT_GT(compiled, 1500);
  EXPECT_GT(matched, 5000);
  EXPECT_GT(ruledOut, 10000);
}

TEST(PatternProperty, NeverRulesOutAMatchInTheCLocale) {
  expectNoMissedMatch(CaseMode::Sensitive);
  expectNoMissedMatch(CaseMode::Insensitive);
}

TEST(PatternProperty, NeverRulesOutAMatchInAUtf8Locale) {
  const ThreadLocale utf8("C.UTF-8");
  expectNoMissedMatch(CaseMode::Sensitive);
  expectNoMissedMatch(CaseMode::Insensitive);
}

}  // namespace
}  // namespace tallowmere
