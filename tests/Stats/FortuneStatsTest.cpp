#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <vector>

#include <tallowmere/Data/Fortune/Stats.hpp>
#include <tallowmere/Platform/Errors.hpp>

namespace tallowmere {
namespace {

constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t highest = std::numeric_limits<std::int64_t>::max();

// Records spread over the whole range, extremes included.
FortuneStats randomStats(std::mt19937_64& random) {
  std::uniform_int_distribution<std::int64_t> any(lowest, highest);
  std::uniform_int_distribution<std::int64_t> small(-3, 3);
  auto pick = [&] {
    switch (random() % 4) {
      case 0:
        return lowest;
      case 1:
        return highest;
      case 2:
        return small(random);
      default:
        return any(random);
    }
  };
  return {pick(), pick(), pick(), pick(), pick(), pick()};
}

TEST(FortuneStatsCombination, CombinesFieldByFieldByRole) {
  const FortuneStats a{1, 120, 40, 40, 2, 2};
  const FortuneStats b{1, 300, 95, 95, 5, 5};
  EXPECT_EQ(a + b, (FortuneStats{2, 300, 40, 95, 2, 5}));
  FortuneStats c = a;
  c += b;
  EXPECT_EQ(c, a + b);
}

TEST(FortuneStatsCombination, EmptyRecordIsTheIdentityOnBothSides) {
  const std::array<FortuneStats, 3> samples = {{
      {1, 120, 40, 40, 2, 2},
      {lowest, highest, lowest, highest, lowest, highest},
      {-7, -1, 0, 0, -1, 3},
  }};
  for (const FortuneStats& s : samples) {
    EXPECT_EQ(FortuneStats::mempty + s, s);
    EXPECT_EQ(s + FortuneStats::mempty, s);
  }
}

TEST(FortuneStatsCombination, IsAssociativeAndCommutativeOnRandomRecords) {
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 2000; ++i) {
    const FortuneStats a = randomStats(random);
    const FortuneStats b = randomStats(random);
    const FortuneStats c = randomStats(random);
    ASSERT_EQ((a + b) + c, a + (b + c));
    ASSERT_EQ(a + b, b + a);
  }
}

TEST(FortuneStatsCombination, CountWrapsAroundInsteadOfOverflowing) {
  const FortuneStats top{highest, 0, 0, 0, 0, 0};
  const FortuneStats one{1, 0, 0, 0, 0, 0};
  EXPECT_EQ((top + one).numFortunes, lowest);
  EXPECT_EQ(stimes(2, top).numFortunes, -2);
  EXPECT_EQ(stimes(highest, FortuneStats{lowest, 0, 0, 0, 0, 0}).numFortunes, lowest);
}

TEST(FortuneStatsCombination, SequencesCombineToTheFoldOfTheirElements) {
  const std::vector<FortuneStats> stats = {
      {1, 120, 40, 40, 2, 2}, {1, 300, 95, 95, 5, 5}, {2, 200, 10, 60, 1, 9}};
  EXPECT_EQ(mconcat({}), FortuneStats::mempty);
  EXPECT_EQ(mconcat(stats), stats[0] + stats[1] + stats[2]);
  EXPECT_EQ(sconcat(stats), mconcat(stats));
  EXPECT_EQ(sconcat(std::span(stats).first(1)), stats[0]);
  EXPECT_THROW((void)sconcat({}), UsageError);
}

TEST(FortuneStatsCombination, StimesEqualsRepeatedCombination) {
  const FortuneStats s{2, 130, 40, 90, 1, 3};
  EXPECT_EQ(stimes(1, s), s);
  EXPECT_EQ(stimes(3, s), s + s + s);
  for (std::int64_t count : {std::int64_t{0}, std::int64_t{-4}, lowest}) {
    try {
      (void)stimes(count, s);
      ADD_FAILURE() << "stimes accepted count " << count;
    } catch (const UsageError& e) {
      EXPECT_EQ(std::string(e.what()),
                "stimes: the repetition count must be at least 1, not " + std::to_string(count));
    }
  }
}

// Fields not named by a case hold 100 for offsetAfter and 10 for each length bound.
FortuneStats withCount(std::int64_t n) { return {n, 100, 10, 10, 10, 10}; }

TEST(FortuneStatsValidation, AppliesTheRulesInOrder) {
  struct Case {
    const char* what;
    FortuneStats stats;
    std::optional<StatsProblem> expected;
  };
  FortuneStats emptyWithOffset = FortuneStats::mempty;
  emptyWithOffset.offsetAfter = 512;
  FortuneStats emptyWithMinChars = FortuneStats::mempty;
  emptyWithMinChars.minChars = 5;
  FortuneStats emptyWithMaxLines = FortuneStats::mempty;
  emptyWithMaxLines.maxLines = 0;
  FortuneStats linesNegative{2, 100, 3, 5, -4, 10};
  FortuneStats charsStillEmpty = FortuneStats::mempty;
  charsStillEmpty.numFortunes = 1;
  charsStillEmpty.offsetAfter = 100;

  const std::vector<Case> cases = {
      {"empty record", FortuneStats::mempty, std::nullopt},
      {"no fortunes, any offset", emptyWithOffset, std::nullopt},
      {"no fortunes, a minimum set", emptyWithMinChars, StatsProblem::LengthsWithoutEntries()},
      {"no fortunes, a line maximum set", emptyWithMaxLines, StatsProblem::LengthsWithoutEntries()},
      {"no fortunes, plain lengths", withCount(0), StatsProblem::LengthsWithoutEntries()},
      {"negative count", withCount(-1), StatsProblem::NegativeCount(-1)},
      {"negative count, negative offset",
       {-2, -9, 10, 10, 10, 10},
       StatsProblem::NegativeCount(-2)},
      {"offset before lengths", {1, -5, 10, -1, 10, 10}, StatsProblem::NegativeOffset(-5)},
      {"maxChars before minChars", {2, 100, -3, -1, 10, 10}, StatsProblem::NegativeLength(-1)},
      {"negative minChars", {2, 100, -3, 4, 10, 10}, StatsProblem::NegativeLength(-3)},
      {"one fortune, two lengths",
       {1, 100, 3, 5, 10, 10},
       StatsProblem::InconsistentLengthsForOneEntry()},
      {"two fortunes, two lengths", {2, 100, 3, 5, 10, 10}, std::nullopt},
      {"maximum below minimum", {3, 100, 5, 3, 10, 10}, StatsProblem::MaxLengthLessThanMinLength()},
      {"one fortune, max below min",
       {1, 100, 5, 3, 10, 10},
       StatsProblem::MaxLengthLessThanMinLength()},
      {"line bounds ignored with entries", linesNegative, std::nullopt},
      {"character bounds still empty", charsStillEmpty, StatsProblem::NegativeLength(lowest)},
      {"offset zero with entries", {1, 0, 7, 7, 1, 1}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(checkStats(c.stats), c.expected) << c.what;
    EXPECT_EQ(statsAreValid(c.stats), !c.expected.has_value()) << c.what;
  }
}

TEST(FortuneStatsText, ShowsEveryFieldWithItsRole) {
  EXPECT_EQ(show(FortuneStats::mempty),
            "FortuneStats {numFortunes = Sum {getSum = 0}, offsetAfter = Max {getMax = "
            "-9223372036854775808}, minChars = Min {getMin = 9223372036854775807}, maxChars = Max "
            "{getMax = -9223372036854775808}, minLines = Min {getMin = 9223372036854775807}, "
            "maxLines = Max {getMax = -9223372036854775808}}");
  const FortuneStats s{2, 300, 40, 95, -1, 5};
  const std::string plain =
      "FortuneStats {numFortunes = Sum {getSum = 2}, offsetAfter = Max {getMax = 300}, minChars "
      "= Min {getMin = 40}, maxChars = Max {getMax = 95}, minLines = Min {getMin = -1}, maxLines "
      "= Max {getMax = 5}}";
  EXPECT_EQ(show(s, 10), plain);
  EXPECT_EQ(show(s, 11), "(" + plain + ")");
  std::ostringstream out;
  out << s;
  EXPECT_EQ(out.str(), plain);
}

}  // namespace
}  // namespace tallowmere
