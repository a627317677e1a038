#include <array>
#include <ostream>

#include <tallowmere/Data/Fortune/Stats.hpp>
#include "Data/Fortune/Stats/StatsProblemText.hpp"
#include "Data/Fortune/detail/TextForm.hpp"

namespace tallowmere {
namespace {

using Kind = StatsProblem::Kind;

// Variant names, indexed by Kind.
constexpr std::array<std::string_view, 7> kindNames = {
    "NegativeCount",
    "NegativeLength",
    "NegativeOffset",
    "LengthsWithoutEntries",
    "EntriesWithoutLengths",
    "MaxLengthLessThanMinLength",
    "InconsistentLengthsForOneEntry",
};

std::string_view nameOf(Kind kind) { return kindNames[static_cast<std::size_t>(kind)]; }

std::optional<Kind> kindNamed(std::string_view name) {
  for (std::size_t i = 0; i < kindNames.size(); ++i) {
    if (kindNames[i] == name) return static_cast<Kind>(i);
  }
  return std::nullopt;
}

StatsProblem make(Kind kind, std::int64_t value) {
  switch (kind) {
    case Kind::NegativeCount:
      return StatsProblem::NegativeCount(value);
    case Kind::NegativeLength:
      return StatsProblem::NegativeLength(value);
    case Kind::NegativeOffset:
      return StatsProblem::NegativeOffset(value);
    case Kind::LengthsWithoutEntries:
      return StatsProblem::LengthsWithoutEntries();
    case Kind::EntriesWithoutLengths:
      return StatsProblem::EntriesWithoutLengths();
    case Kind::MaxLengthLessThanMinLength:
      return StatsProblem::MaxLengthLessThanMinLength();
    case Kind::InconsistentLengthsForOneEntry:
      return StatsProblem::InconsistentLengthsForOneEntry();
  }
  return StatsProblem::EntriesWithoutLengths();  // not reached: every kind is listed above
}

}  // namespace

std::string show(const StatsProblem& problem, int precedence) {
  const std::string_view name = nameOf(problem.kind());
  if (!problem.hasValue()) return std::string(name);
  return detail::showApplication(
      name, detail::showInteger(problem.value(), detail::fieldPrecedence), precedence);
}

std::ostream& operator<<(std::ostream& out, const StatsProblem& problem) {
  return out << show(problem);
}

std::optional<StatsProblem> detail::readStatsProblem(TextReader& reader, int precedence) {
  return reader.optionalParens(precedence, [&reader](int p) -> std::optional<StatsProblem> {
    const std::optional<std::string_view> name = reader.identifier();
    const std::optional<Kind> kind = name ? kindNamed(*name) : std::nullopt;
    if (!kind) return std::nullopt;
    const StatsProblem bare = make(*kind, 0);
    if (!bare.hasValue()) return bare;
    // A variant with a field stands only where an application may.
    if (p > applicationPrecedence) return std::nullopt;
    const std::optional<std::int64_t> value = reader.integer(fieldPrecedence);
    if (!value) return std::nullopt;
    return make(*kind, *value);
  });
}

template <>
std::optional<StatsProblem> read<StatsProblem>(std::string_view text) {
  return detail::readWhole(text, detail::readStatsProblem);
}

}  // namespace tallowmere
