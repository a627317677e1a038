#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <typeindex>
#include <vector>

#include <tallowmere/Data/Fortune/Index.hpp>
#include <tallowmere/Data/Fortune/Stats.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

// What a plain `catch (const E&)` hands over when `raise` throws, through `get`; no value when
// that handler does not catch the exception.
template <class E, class Get>
auto caughtAs(const std::function<void()>& raise, Get get)
    -> std::optional<decltype(get(std::declval<const E&>()))> {
  try {
    raise();
  } catch (const E& e) {
    return get(e);
  } catch (...) {
    return std::nullopt;
  }
  ADD_FAILURE() << "nothing was thrown";
  return std::nullopt;
}

std::optional<IndexProblem> asIndexProblem(const std::function<void()>& raise) {
  return caughtAs<IndexProblemError>(raise, [](const IndexProblemError& e) { return e.problem(); });
}
std::optional<HeaderProblem> asHeaderProblem(const std::function<void()>& raise) {
  return caughtAs<HeaderProblemError>(
      raise, [](const HeaderProblemError& e) { return e.headerProblem(); });
}
std::optional<StatsProblem> asStatsProblem(const std::function<void()>& raise) {
  return caughtAs<StatsProblemError>(raise,
                                     [](const StatsProblemError& e) { return e.statsProblem(); });
}
std::optional<std::string> message(const std::function<void()>& raise) {
  return caughtAs<std::exception>(raise,
                                  [](const std::exception& e) { return std::string(e.what()); });
}

struct Conversion {
  std::function<void()> raise;
  std::string what;
  IndexProblem asIndex;
  std::optional<HeaderProblem> asHeader;
  std::optional<StatsProblem> asStats;
};

TEST(ProblemExceptions, HandlersSeeExactlyTheConversionTable) {
  const StatsProblem count = StatsProblem::NegativeCount(-3);
  const HeaderProblem countHeader = HeaderProblem::StatsProblem(count);
  const HeaderProblem magic = HeaderProblem::BadMagicNumber(0);
  const HeaderProblem early = HeaderProblem::TableStartsBeforeHeaderEnds();
  const StatsProblem length = StatsProblem::NegativeLength(-1);
  const HeaderProblem lengthHeader = HeaderProblem::StatsProblem(length);

  const std::vector<Conversion> table = {
      {[&] { throwProblem(count); }, "NegativeCount (-3)", IndexProblem::HeaderProblem(countHeader),
       countHeader, count},
      {[&] { throwProblem(countHeader); }, "StatsProblem (NegativeCount (-3))",
       IndexProblem::HeaderProblem(countHeader), countHeader, count},
      {[&] { throwProblem(magic); }, "BadMagicNumber 0", IndexProblem::HeaderProblem(magic), magic,
       std::nullopt},
      {[&] { throwProblem(IndexProblem::HeaderProblem(early)); },
       "HeaderProblem TableStartsBeforeHeaderEnds", IndexProblem::HeaderProblem(early), early,
       std::nullopt},
      {[&] { throwProblem(IndexProblem::HeaderProblem(lengthHeader)); },
       "HeaderProblem (StatsProblem (NegativeLength (-1)))",
       IndexProblem::HeaderProblem(lengthHeader), lengthHeader, length},
      {[] { throwProblem(IndexProblem::TableLongerThanFile()); }, "TableLongerThanFile",
       IndexProblem::TableLongerThanFile(), std::nullopt, std::nullopt},
      {[] { throwProblem(IndexProblem::AccessToClosedIndex()); }, "AccessToClosedIndex",
       IndexProblem::AccessToClosedIndex(), std::nullopt, std::nullopt},
  };
  for (const Conversion& row : table) {
    EXPECT_EQ(message(row.raise), row.what);
    EXPECT_EQ(asIndexProblem(row.raise), row.asIndex) << row.what;
    EXPECT_EQ(asHeaderProblem(row.raise), row.asHeader) << row.what;
    EXPECT_EQ(asStatsProblem(row.raise), row.asStats) << row.what;
    // Every handler that catches it sees the same message.
    EXPECT_EQ(
        caughtAs<IndexProblemError>(row.raise, [](const auto& e) { return std::string(e.what()); }),
        row.what);
  }
}

TEST(ProblemExceptions, ThrowsTheMostDerivedClassOfTheNesting) {
  auto thrownType = [](const std::function<void()>& raise) {
    return caughtAs<std::exception>(
        raise, [](const std::exception& e) { return std::type_index(typeid(e)); });
  };
  const HeaderProblem stats = HeaderProblem::StatsProblem(StatsProblem::LengthsWithoutEntries());
  EXPECT_EQ(thrownType([] { throwProblem(StatsProblem::EntriesWithoutLengths()); }),
            std::type_index(typeid(StatsProblemError)));
  EXPECT_EQ(thrownType([&] { throwProblem(IndexProblem::HeaderProblem(stats)); }),
            std::type_index(typeid(StatsProblemError)));
  EXPECT_EQ(thrownType([] { throwProblem(HeaderProblem::UnsupportedVersion(3)); }),
            std::type_index(typeid(HeaderProblemError)));
  EXPECT_EQ(thrownType([] { throwProblem(IndexProblem::TableLongerThanFile()); }),
            std::type_index(typeid(IndexProblemError)));
}

TEST(ProblemExceptions, OtherFailuresPassEveryProblemHandler) {
  const std::function<void()> raise = [] {
    throw IOError::userError("getEntry: index out of range: 9");
  };
  EXPECT_EQ(asIndexProblem(raise), std::nullopt);
  EXPECT_EQ(asHeaderProblem(raise), std::nullopt);
  EXPECT_EQ(asStatsProblem(raise), std::nullopt);
  EXPECT_EQ(message(raise), "getEntry: index out of range: 9");
}

}  // namespace
}  // namespace tallowmere

namespace tallowmere {
namespace {

// A caller who asks why a failure happened, and about which file, gets one answer for every
// way an index can be unreadable, without reading messages.
TEST(ErrorReasonTest, EveryDamagedIndexIsOneReasonWithItsPath) {
  const test::TempDir dir;
  const std::string sound = encodeHeader(emptyHeader);
  std::string badMagic = sound;
  badMagic[0] = 'X';
  for (const std::string& bytes : {sound.substr(0, 10), badMagic}) {
    const std::string path = dir.writeFile("t.ix", bytes);
    try {
      (void)openIndex(path, false);
      ADD_FAILURE() << "opened";
    } catch (const std::exception& e) {
      EXPECT_EQ(errorReason(e), ErrorReason::DamagedIndex) << e.what();
      EXPECT_EQ(errorPath(e), path) << e.what();
    }
  }
  const std::string missing = dir.path("none.ix");
  try {
    (void)openIndex(missing, false);
  } catch (const std::exception& e) {
    EXPECT_EQ(errorReason(e), ErrorReason::NotFound);
    EXPECT_EQ(errorPath(e), missing);
  }
  try {
    (void)getEntry(createVirtualIndex(), 3);
  } catch (const std::exception& e) {
    EXPECT_EQ(errorReason(e), ErrorReason::OutOfRange);
    EXPECT_EQ(std::string(e.what()), "getEntry: index out of range: 3");
  }
}

}  // namespace
}  // namespace tallowmere
