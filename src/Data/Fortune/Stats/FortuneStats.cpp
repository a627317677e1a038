#include <algorithm>
#include <ostream>

#include <tallowmere/Data/Fortune/Stats.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/detail/TextForm.hpp"

namespace tallowmere {
namespace {

constexpr std::int64_t smallest = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();

// Two's complement wrap-around, done in unsigned arithmetic where it is defined behaviour.
std::int64_t wrappingAdd(std::int64_t a, std::int64_t b) noexcept {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}
std::int64_t wrappingMultiply(std::int64_t a, std::int64_t b) noexcept {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b));
}

// Rules for a record with at least one fortune and a non-negative end offset: only the
// character bounds are examined.
std::optional<StatsProblem> checkCharacterBounds(const FortuneStats& stats) noexcept {
  if (stats.maxChars < 0) return StatsProblem::NegativeLength(stats.maxChars);
  if (stats.minChars < 0) return StatsProblem::NegativeLength(stats.minChars);
  if (stats.maxChars < stats.minChars) return StatsProblem::MaxLengthLessThanMinLength();
  if (stats.maxChars == stats.minChars) return std::nullopt;
  if (stats.numFortunes == 1) return StatsProblem::InconsistentLengthsForOneEntry();
  return std::nullopt;
}

}  // namespace

FortuneStats operator+(const FortuneStats& a, const FortuneStats& b) noexcept {
  return {
      wrappingAdd(a.numFortunes, b.numFortunes), std::max(a.offsetAfter, b.offsetAfter),
      std::min(a.minChars, b.minChars),          std::max(a.maxChars, b.maxChars),
      std::min(a.minLines, b.minLines),          std::max(a.maxLines, b.maxLines),
  };
}

FortuneStats& operator+=(FortuneStats& a, const FortuneStats& b) noexcept {
  a = a + b;
  return a;
}

FortuneStats mconcat(std::span<const FortuneStats> stats) noexcept {
  FortuneStats total = FortuneStats::mempty;
  for (const FortuneStats& s : stats) total += s;
  return total;
}

FortuneStats sconcat(std::span<const FortuneStats> stats) {
  if (stats.empty()) throw UsageError("sconcat: the sequence of statistics is empty");
  return mconcat(stats);
}

FortuneStats stimes(std::int64_t count, const FortuneStats& stats) {
  if (count < 1) {
    throw UsageError("stimes: the repetition count must be at least 1, not " +
                     std::to_string(count));
  }
  FortuneStats repeated = stats;
  repeated.numFortunes = wrappingMultiply(stats.numFortunes, count);
  return repeated;
}

std::optional<StatsProblem> checkStats(const FortuneStats& stats) noexcept {
  const std::int64_t n = stats.numFortunes;
  if (n > 0 && stats.offsetAfter < 0) return StatsProblem::NegativeOffset(stats.offsetAfter);
  if (n < 0) return StatsProblem::NegativeCount(n);
  if (n == 0) {
    // No fortunes: every length bound must still be at its empty value; the offset may be
    // anything.
    const bool lengthsEmpty = stats.maxChars == smallest && stats.maxLines == smallest &&
                              stats.minChars == largest && stats.minLines == largest;
    if (lengthsEmpty) return std::nullopt;
    return StatsProblem::LengthsWithoutEntries();
  }
  return checkCharacterBounds(stats);
}

bool statsAreValid(const FortuneStats& stats) noexcept { return !checkStats(stats).has_value(); }

std::string show(const FortuneStats& stats, int precedence) {
  // Each value is wrapped in the name of its combination role.
  auto field = [](const char* name, const char* role, const char* accessor, std::int64_t value) {
    return std::string(name) + " = " + role + " {" + accessor + " = " + std::to_string(value) + "}";
  };
  std::string text = "FortuneStats {";
  text += field("numFortunes", "Sum", "getSum", stats.numFortunes) + ", ";
  text += field("offsetAfter", "Max", "getMax", stats.offsetAfter) + ", ";
  text += field("minChars", "Min", "getMin", stats.minChars) + ", ";
  text += field("maxChars", "Max", "getMax", stats.maxChars) + ", ";
  text += field("minLines", "Min", "getMin", stats.minLines) + ", ";
  text += field("maxLines", "Max", "getMax", stats.maxLines) + "}";
  return detail::parenthesised(precedence > detail::applicationPrecedence, std::move(text));
}

std::ostream& operator<<(std::ostream& out, const FortuneStats& stats) {
  return out << show(stats);
}

}  // namespace tallowmere
