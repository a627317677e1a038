#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune/Index/Problems.hpp>
#include <tallowmere/Data/Fortune/Stats.hpp>

namespace tallowmere {
namespace {

constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t highest = std::numeric_limits<std::int64_t>::max();

std::vector<StatsProblem> allStatsProblems() {
  std::vector<StatsProblem> all = {
      StatsProblem::LengthsWithoutEntries(), StatsProblem::EntriesWithoutLengths(),
      StatsProblem::MaxLengthLessThanMinLength(), StatsProblem::InconsistentLengthsForOneEntry()};
  for (std::int64_t v : {std::int64_t{0}, std::int64_t{7}, std::int64_t{-3}, lowest, highest}) {
    all.push_back(StatsProblem::NegativeCount(v));
    all.push_back(StatsProblem::NegativeLength(v));
    all.push_back(StatsProblem::NegativeOffset(v));
  }
  return all;
}

std::vector<HeaderProblem> allHeaderProblems() {
  std::vector<HeaderProblem> all = {HeaderProblem::TableStartsBeforeHeaderEnds()};
  for (std::uint32_t v : {0U, 5U, 0x0BDCBCDBU, 0xFFFFFFFFU}) {
    all.push_back(HeaderProblem::BadMagicNumber(v));
    all.push_back(HeaderProblem::UnsupportedVersion(v));
  }
  for (const StatsProblem& s : allStatsProblems()) all.push_back(HeaderProblem::StatsProblem(s));
  return all;
}

std::vector<IndexProblem> allIndexProblems() {
  std::vector<IndexProblem> all = {IndexProblem::TableLongerThanFile(),
                                   IndexProblem::AccessToClosedIndex()};
  for (const HeaderProblem& h : allHeaderProblems()) all.push_back(IndexProblem::HeaderProblem(h));
  return all;
}

TEST(ProblemShow, WritesPayloadsAtArgumentPrecedence) {
  EXPECT_EQ(show(StatsProblem::NegativeCount(-3)), "NegativeCount (-3)");
  EXPECT_EQ(show(StatsProblem::NegativeOffset(7)), "NegativeOffset 7");
  EXPECT_EQ(show(StatsProblem::NegativeOffset(7), 11), "(NegativeOffset 7)");
  EXPECT_EQ(show(StatsProblem::NegativeLength(lowest), 11),
            "(NegativeLength (-9223372036854775808))");
  EXPECT_EQ(show(StatsProblem::LengthsWithoutEntries(), 11), "LengthsWithoutEntries");

  EXPECT_EQ(show(HeaderProblem::UnsupportedVersion(3)), "UnsupportedVersion 3");
  EXPECT_EQ(show(HeaderProblem::BadMagicNumber(5), 11), "(BadMagicNumber 5)");
  EXPECT_EQ(show(HeaderProblem::BadMagicNumber(0xFFFFFFFFU)), "BadMagicNumber 4294967295");
  EXPECT_EQ(show(HeaderProblem::StatsProblem(StatsProblem::NegativeCount(-3))),
            "StatsProblem (NegativeCount (-3))");
  EXPECT_EQ(show(HeaderProblem::StatsProblem(StatsProblem::LengthsWithoutEntries()), 11),
            "(StatsProblem LengthsWithoutEntries)");
  EXPECT_EQ(show(HeaderProblem::TableStartsBeforeHeaderEnds(), 11), "TableStartsBeforeHeaderEnds");

  EXPECT_EQ(show(IndexProblem::HeaderProblem(
                HeaderProblem::StatsProblem(StatsProblem::NegativeLength(-1)))),
            "HeaderProblem (StatsProblem (NegativeLength (-1)))");
  EXPECT_EQ(show(IndexProblem::HeaderProblem(HeaderProblem::TableStartsBeforeHeaderEnds()), 11),
            "(HeaderProblem TableStartsBeforeHeaderEnds)");
  EXPECT_EQ(show(IndexProblem::HeaderProblem(HeaderProblem::BadMagicNumber(0))),
            "HeaderProblem (BadMagicNumber 0)");
  EXPECT_EQ(show(IndexProblem::TableLongerThanFile(), 11), "TableLongerThanFile");
  EXPECT_EQ(show(IndexProblem::AccessToClosedIndex(), 11), "AccessToClosedIndex");

  std::ostringstream out;
  out << StatsProblem::NegativeCount(-1) << '|' << HeaderProblem::BadMagicNumber(5) << '|'
      << IndexProblem::TableLongerThanFile();
  EXPECT_EQ(out.str(), "NegativeCount (-1)|BadMagicNumber 5|TableLongerThanFile");
}

TEST(ProblemRead, AcceptsSpacingParenthesesAndLiteralForms) {
  using S = StatsProblem;
  EXPECT_EQ(read<S>("NegativeCount (-3)"), S::NegativeCount(-3));
  EXPECT_EQ(read<S>("  NegativeCount( - 3 )\n"), S::NegativeCount(-3));
  EXPECT_EQ(read<S>("((NegativeCount ((-3))))"), S::NegativeCount(-3));
  EXPECT_EQ(read<S>("(NegativeOffset 7)"), S::NegativeOffset(7));
  EXPECT_EQ(read<S>("NegativeOffset 0x1F"), S::NegativeOffset(31));
  EXPECT_EQ(read<S>("NegativeOffset 0O17"), S::NegativeOffset(15));
  EXPECT_EQ(read<S>("NegativeLength 18446744073709551615"), S::NegativeLength(-1));
  EXPECT_EQ(read<S>("NegativeLength (-9223372036854775808)"), S::NegativeLength(lowest));
  EXPECT_EQ(read<S>("(((EntriesWithoutLengths)))"), S::EntriesWithoutLengths());

  using H = HeaderProblem;
  EXPECT_EQ(read<H>("StatsProblem (NegativeOffset 7)"), H::StatsProblem(S::NegativeOffset(7)));
  EXPECT_EQ(read<H>("StatsProblem ((LengthsWithoutEntries))"),
            H::StatsProblem(S::LengthsWithoutEntries()));
  EXPECT_EQ(read<H>("(TableStartsBeforeHeaderEnds)"), H::TableStartsBeforeHeaderEnds());
  EXPECT_EQ(read<H>("BadMagicNumber (-1)"), H::BadMagicNumber(0xFFFFFFFFU));
  EXPECT_EQ(read<H>("UnsupportedVersion 4294967298"), H::UnsupportedVersion(2));

  EXPECT_EQ(read<IndexProblem>("HeaderProblem (StatsProblem (NegativeLength (-1)))"),
            IndexProblem::HeaderProblem(H::StatsProblem(S::NegativeLength(-1))));
  EXPECT_EQ(read<IndexProblem>("HeaderProblem TableStartsBeforeHeaderEnds"),
            IndexProblem::HeaderProblem(H::TableStartsBeforeHeaderEnds()));
  EXPECT_EQ(read<IndexProblem>(" ( AccessToClosedIndex ) "), IndexProblem::AccessToClosedIndex());
}

TEST(ProblemRead, RejectsFormsThatNeedParenthesesOrAreIncomplete) {
  for (const char* text :
       {"", "()", "NegativeCount -3", "NegativeCount", "NegativeCount 3 4", "NegativeCounts 3",
        "negativeCount 3", "(NegativeCount 3", "NegativeCount 3)", "NegativeCount 3.5",
        "NegativeCount 3e2", "NegativeCount 0x", "NegativeCount (- -3)", "NegativeCount (-(3))",
        "LengthsWithoutEntries 3", "NegativeCount 3 LengthsWithoutEntries",
        "TableLongerThanFile"}) {
    EXPECT_EQ(read<StatsProblem>(text), std::nullopt) << text;
  }
  for (const char* text : {"StatsProblem NegativeOffset 7", "BadMagicNumber -1", "StatsProblem",
                           "StatsProblem StatsProblem LengthsWithoutEntries", "NegativeCount (-3)",
                           "TableStartsBeforeHeaderEnds 0"}) {
    EXPECT_EQ(read<HeaderProblem>(text), std::nullopt) << text;
  }
  for (const char* text :
       {"HeaderProblem BadMagicNumber 0", "HeaderProblem StatsProblem LengthsWithoutEntries",
        "HeaderProblem", "BadMagicNumber 0", "HeaderProblem (StatsProblem NegativeCount (-3))"}) {
    EXPECT_EQ(read<IndexProblem>(text), std::nullopt) << text;
  }
}

TEST(ProblemRead, SurvivesDeeplyNestedParentheses) {
  const std::size_t depth = 200000;
  const std::string text = std::string(depth, '(') + "HeaderProblem (BadMagicNumber (" +
                           std::string(depth, '(') + "-1" + std::string(depth, ')') + "))" +
                           std::string(depth, ')');
  EXPECT_EQ(read<IndexProblem>(text),
            IndexProblem::HeaderProblem(HeaderProblem::BadMagicNumber(0xFFFFFFFFU)));
  EXPECT_EQ(read<IndexProblem>(text.substr(1)), std::nullopt);
}

template <class T>
void expectRoundTrip(const std::vector<T>& values) {
  for (const T& v : values) {
    for (int precedence : {0, 11}) {
      const std::string text = show(v, precedence);
      EXPECT_EQ(read<T>(text), v) << text;
      EXPECT_EQ(read<T>(" ( " + text + " ) "), v) << text;
    }
  }
}

TEST(ProblemRead, ReadsBackWhatShowWrites) {
  expectRoundTrip(allStatsProblems());
  expectRoundTrip(allHeaderProblems());
  expectRoundTrip(allIndexProblems());
}

TEST(ProblemOrdering, ComparesVariantThenPayload) {
  EXPECT_LT(StatsProblem::NegativeOffset(-2), StatsProblem::LengthsWithoutEntries());
  EXPECT_LT(StatsProblem::NegativeCount(-5), StatsProblem::NegativeCount(5));
  EXPECT_LT(StatsProblem::NegativeCount(highest), StatsProblem::NegativeLength(lowest));
  EXPECT_LT(StatsProblem::MaxLengthLessThanMinLength(),
            StatsProblem::InconsistentLengthsForOneEntry());

  EXPECT_LT(HeaderProblem::BadMagicNumber(0xFFFFFFFFU), HeaderProblem::UnsupportedVersion(0));
  EXPECT_LT(HeaderProblem::UnsupportedVersion(1), HeaderProblem::UnsupportedVersion(2));
  EXPECT_LT(HeaderProblem::UnsupportedVersion(0x7FFFFFFFU),
            HeaderProblem::UnsupportedVersion(0x80000000U));
  EXPECT_LT(HeaderProblem::StatsProblem(StatsProblem::InconsistentLengthsForOneEntry()),
            HeaderProblem::TableStartsBeforeHeaderEnds());
  EXPECT_LT(HeaderProblem::StatsProblem(StatsProblem::NegativeCount(-1)),
            HeaderProblem::StatsProblem(StatsProblem::NegativeCount(1)));
  EXPECT_NE(HeaderProblem::StatsProblem(StatsProblem::EntriesWithoutLengths()),
            HeaderProblem::TableStartsBeforeHeaderEnds());

  EXPECT_LT(IndexProblem::HeaderProblem(HeaderProblem::TableStartsBeforeHeaderEnds()),
            IndexProblem::TableLongerThanFile());
  EXPECT_LT(IndexProblem::TableLongerThanFile(), IndexProblem::AccessToClosedIndex());
  EXPECT_LT(IndexProblem::HeaderProblem(HeaderProblem::BadMagicNumber(2)),
            IndexProblem::HeaderProblem(HeaderProblem::BadMagicNumber(10)));
  EXPECT_NE(IndexProblem::HeaderProblem(HeaderProblem::TableStartsBeforeHeaderEnds()),
            IndexProblem::TableLongerThanFile());
}

}  // namespace
}  // namespace tallowmere
