#include <tallowmere/Data/Fortune/Index/Problems.hpp>

#include <ostream>

#include "Data/Fortune/Index/State.hpp"
#include "Data/Fortune/Stats/StatsProblemText.hpp"
#include "Data/Fortune/detail/TextForm.hpp"

namespace tallowmere {
namespace {

using detail::TextReader;

std::optional<HeaderProblem> readHeaderProblem(TextReader& reader, int precedence) {
  return reader.optionalParens(precedence, [&reader](int p) -> std::optional<HeaderProblem> {
    const std::optional<std::string_view> name = reader.identifier();
    if (!name) return std::nullopt;
    if (*name == "TableStartsBeforeHeaderEnds") return HeaderProblem::TableStartsBeforeHeaderEnds();
    // Every other variant has a field and so stands only where an application may.
    if (p > detail::applicationPrecedence) return std::nullopt;
    if (*name == "StatsProblem") {
      const auto stats = detail::readStatsProblem(reader, detail::fieldPrecedence);
      if (!stats) return std::nullopt;
      return HeaderProblem::StatsProblem(*stats);
    }
    const bool magic = *name == "BadMagicNumber";
    if (!magic && *name != "UnsupportedVersion") return std::nullopt;
    // The number is read as a 64-bit literal; its low 32 bits are the value.
    const std::optional<std::int64_t> number = reader.integer(detail::fieldPrecedence);
    if (!number) return std::nullopt;
    const auto value = static_cast<std::uint32_t>(*number);
    return magic ? HeaderProblem::BadMagicNumber(value) : HeaderProblem::UnsupportedVersion(value);
  });
}

std::optional<IndexProblem> readIndexProblem(TextReader& reader, int precedence) {
  return reader.optionalParens(precedence, [&reader](int p) -> std::optional<IndexProblem> {
    const std::optional<std::string_view> name = reader.identifier();
    if (!name) return std::nullopt;
    if (*name == "TableLongerThanFile") return IndexProblem::TableLongerThanFile();
    if (*name == "AccessToClosedIndex") return IndexProblem::AccessToClosedIndex();
    if (*name != "HeaderProblem" || p > detail::applicationPrecedence) return std::nullopt;
    const auto header = readHeaderProblem(reader, detail::fieldPrecedence);
    if (!header) return std::nullopt;
    return IndexProblem::HeaderProblem(*header);
  });
}

}  // namespace

std::optional<StatsProblem> HeaderProblem::statsProblem() const {
  if (kind_ != Kind::StatsProblem) return std::nullopt;
  return stats_;
}

std::optional<HeaderProblem> IndexProblem::headerProblem() const {
  if (kind_ != Kind::HeaderProblem) return std::nullopt;
  return header_;
}

std::string show(const HeaderProblem& problem, int precedence) {
  switch (problem.kind()) {
    case HeaderProblem::Kind::BadMagicNumber:
      return detail::showApplication("BadMagicNumber", std::to_string(problem.value()), precedence);
    case HeaderProblem::Kind::UnsupportedVersion:
      return detail::showApplication("UnsupportedVersion", std::to_string(problem.value()),
                                     precedence);
    case HeaderProblem::Kind::StatsProblem:
      return detail::showApplication(
          "StatsProblem", show(*problem.statsProblem(), detail::fieldPrecedence), precedence);
    case HeaderProblem::Kind::TableStartsBeforeHeaderEnds:
      break;
  }
  return "TableStartsBeforeHeaderEnds";
}

std::string show(const IndexProblem& problem, int precedence) {
  switch (problem.kind()) {
    case IndexProblem::Kind::HeaderProblem:
      return detail::showApplication(
          "HeaderProblem", show(*problem.headerProblem(), detail::fieldPrecedence), precedence);
    case IndexProblem::Kind::TableLongerThanFile:
      return "TableLongerThanFile";
    case IndexProblem::Kind::AccessToClosedIndex:
      break;
  }
  return "AccessToClosedIndex";
}

std::ostream& operator<<(std::ostream& out, const HeaderProblem& problem) {
  return out << show(problem);
}

std::ostream& operator<<(std::ostream& out, const IndexProblem& problem) {
  return out << show(problem);
}

template <>
std::optional<HeaderProblem> read<HeaderProblem>(std::string_view text) {
  return detail::readWhole(text, readHeaderProblem);
}

template <>
std::optional<IndexProblem> read<IndexProblem>(std::string_view text) {
  return detail::readWhole(text, readIndexProblem);
}

// Each problem is thrown as the most derived class its nesting allows, carrying the value
// converted up to an IndexProblem; what() is the text of the value as it was raised.

void throwProblem(const StatsProblem& problem, const std::string& path) {
  throw StatsProblemError(IndexProblem::HeaderProblem(HeaderProblem::StatsProblem(problem)),
                          show(problem), path);
}

void throwProblem(const HeaderProblem& problem, const std::string& path) {
  const IndexProblem raised = IndexProblem::HeaderProblem(problem);
  if (problem.statsProblem()) throw StatsProblemError(raised, show(problem), path);
  throw HeaderProblemError(raised, show(problem), path);
}

void throwProblem(const IndexProblem& problem, const std::string& path) {
  const std::optional<HeaderProblem> header = problem.headerProblem();
  if (!header) throw IndexProblemError(problem, show(problem), path);
  if (header->statsProblem()) throw StatsProblemError(problem, show(problem), path);
  throw HeaderProblemError(problem, show(problem), path);
}

void detail::ProblemPaths::attach(IndexProblemError& error, const std::string& path) {
  if (error.path_.empty()) error.path_ = path;
}

}  // namespace tallowmere
