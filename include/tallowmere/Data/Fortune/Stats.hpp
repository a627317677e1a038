// Fortune statistics: the summary kept for a set of fortunes.
//
// FortuneStats is a monoid. The vocabulary maps onto C++ as follows:
//   mempty            FortuneStats::mempty, the statistics of no fortunes at all
//   a <> b            a + b (and a += b): sums the count, keeps the largest offset and
//                     maximum lengths and the smallest minimum lengths
//   mconcat xs        mconcat(xs): mempty for an empty sequence
//   sconcat xs        sconcat(xs): a non-empty sequence (an empty one is a UsageError)
//   stimes n a        stimes(n, a): n copies combined; n below 1 is a UsageError
// checkStats names the first problem of a record; statsAreValid says whether there is none.
#pragma once

#include <compare>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

struct TALLOWMERE_API FortuneStats {
  std::int64_t numFortunes;  // sum
  std::int64_t offsetAfter;  // maximum: byte offset just past the last fortune
  std::int64_t minChars;     // minimum
  std::int64_t maxChars;     // maximum
  std::int64_t minLines;     // minimum
  std::int64_t maxLines;     // maximum

  static const FortuneStats mempty;

  friend bool operator==(const FortuneStats&, const FortuneStats&) = default;
};

inline constexpr FortuneStats FortuneStats::mempty = {
    0,
    std::numeric_limits<std::int64_t>::min(),
    std::numeric_limits<std::int64_t>::max(),
    std::numeric_limits<std::int64_t>::min(),
    std::numeric_limits<std::int64_t>::max(),
    std::numeric_limits<std::int64_t>::min(),
};

// Combination: associative and commutative, with mempty as identity. The count wraps around
// in 64-bit two's complement instead of overflowing.
TALLOWMERE_API FortuneStats operator+(const FortuneStats& a, const FortuneStats& b) noexcept;
TALLOWMERE_API FortuneStats& operator+=(FortuneStats& a, const FortuneStats& b) noexcept;
[[nodiscard]] TALLOWMERE_API FortuneStats mconcat(std::span<const FortuneStats> stats) noexcept;
// Throws UsageError for an empty sequence.
[[nodiscard]] TALLOWMERE_API FortuneStats sconcat(std::span<const FortuneStats> stats);
// `count` copies of `stats` combined: numFortunes times count, other fields unchanged.
// Throws UsageError when count is below 1.
[[nodiscard]] TALLOWMERE_API FortuneStats stimes(std::int64_t count, const FortuneStats& stats);

// The first thing found wrong with a FortuneStats record.
class TALLOWMERE_API StatsProblem {
 public:
  enum class Kind : std::uint8_t {
    NegativeCount,                   // carries numFortunes
    NegativeLength,                  // carries the negative character length
    NegativeOffset,                  // carries offsetAfter
    LengthsWithoutEntries,           // no fortunes, but a length bound is not empty
    EntriesWithoutLengths,           // reserved: never produced by a check
    MaxLengthLessThanMinLength,      // maxChars < minChars
    InconsistentLengthsForOneEntry,  // one fortune with minChars != maxChars
  };

  [[nodiscard]] static StatsProblem NegativeCount(std::int64_t count) {
    return {Kind::NegativeCount, count};
  }
  static StatsProblem NegativeLength(std::int64_t length) { return {Kind::NegativeLength, length}; }
  [[nodiscard]] static StatsProblem NegativeOffset(std::int64_t offset) {
    return {Kind::NegativeOffset, offset};
  }
  static StatsProblem LengthsWithoutEntries() { return {Kind::LengthsWithoutEntries, 0}; }
  [[nodiscard]] static StatsProblem EntriesWithoutLengths() {
    return {Kind::EntriesWithoutLengths, 0};
  }
  static StatsProblem MaxLengthLessThanMinLength() { return {Kind::MaxLengthLessThanMinLength, 0}; }
  [[nodiscard]] static StatsProblem InconsistentLengthsForOneEntry() {
    return {Kind::InconsistentLengthsForOneEntry, 0};
  }

  [[nodiscard]] Kind kind() const noexcept { return kind_; }
  // The carried integer of the first three variants; 0 for the others.
  [[nodiscard]] std::int64_t value() const noexcept { return value_; }
  [[nodiscard]] bool hasValue() const noexcept { return kind_ <= Kind::NegativeOffset; }

  // Variant first, in declaration order, then the carried integer.
  friend auto operator<=>(const StatsProblem&, const StatsProblem&) = default;

 private:
  StatsProblem(Kind kind, std::int64_t value) : kind_(kind), value_(value) {}

  Kind kind_;
  std::int64_t value_;
};

// Applies the validation rules in order; no value when the record is consistent.
[[nodiscard]] TALLOWMERE_API std::optional<StatsProblem> checkStats(
    const FortuneStats& stats) noexcept;
TALLOWMERE_API bool statsAreValid(const FortuneStats& stats) noexcept;

// Text forms. A precedence of 11 or more means "argument of a constructor": the value is then
// put in parentheses if its text has more than one token.
[[nodiscard]] TALLOWMERE_API std::string show(const FortuneStats& stats, int precedence = 0);
TALLOWMERE_API std::string show(const StatsProblem& problem, int precedence = 0);
TALLOWMERE_API std::ostream& operator<<(std::ostream& out, const FortuneStats& stats);
TALLOWMERE_API std::ostream& operator<<(std::ostream& out, const StatsProblem& problem);

// Parsing: read<T>(text) accepts what show produces, with white space between tokens and any
// number of enclosing parentheses; no value when the text does not parse.
template <class T>
[[nodiscard]] std::optional<T> read(std::string_view text);
template <>
TALLOWMERE_API std::optional<StatsProblem> read<StatsProblem>(std::string_view text);

}  // namespace tallowmere
