// What can be wrong with an index, as values and as exceptions.
//
// The three problem types nest: an IndexProblem may carry a HeaderProblem, which may carry a
// StatsProblem. Each is thrown as one exception class of a hierarchy,
//
//   IndexProblemError  >  HeaderProblemError  >  StatsProblemError
//
// and throwProblem(value) throws the most derived class that the value's nesting allows, with
// the value's own text form as what(). A plain `catch` therefore sees exactly these
// conversions:
//   catch (IndexProblemError& e)   every problem; e.problem() as an IndexProblem
//   catch (HeaderProblemError& e)  header and statistics problems; e.headerProblem()
//   catch (StatsProblemError& e)   statistics problems only; e.statsProblem()
// TableLongerThanFile and AccessToClosedIndex reach only an IndexProblemError handler.
#pragma once

#include <compare>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include <tallowmere/Data/Fortune/Stats.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

namespace detail {
struct ProblemPaths;
}  // namespace detail

class TALLOWMERE_API HeaderProblem {
 public:
  enum class Kind : std::uint8_t {
    BadMagicNumber,               // carries the first four bytes, as read
    UnsupportedVersion,           // carries the version, as read
    StatsProblem,                 // carries the statistics' StatsProblem
    TableStartsBeforeHeaderEnds,  // indexLoc below 64
  };

  [[nodiscard]] static HeaderProblem BadMagicNumber(std::uint32_t magic) {
    return {Kind::BadMagicNumber, magic};
  }
  static HeaderProblem UnsupportedVersion(std::uint32_t version) {
    return {Kind::UnsupportedVersion, version};
  }
  [[nodiscard]] static HeaderProblem StatsProblem(const tallowmere::StatsProblem& problem) {
    return HeaderProblem(problem);
  }
  [[nodiscard]] static HeaderProblem TableStartsBeforeHeaderEnds() {
    return {Kind::TableStartsBeforeHeaderEnds, 0};
  }

  [[nodiscard]] Kind kind() const noexcept { return kind_; }
  // The carried number of BadMagicNumber and UnsupportedVersion; 0 for the others.
  [[nodiscard]] std::uint32_t value() const noexcept { return value_; }
  // The carried problem of the StatsProblem variant.
  [[nodiscard]] std::optional<tallowmere::StatsProblem> statsProblem() const;

  // Variant first, in declaration order, then the payload (numbers unsigned).
  friend auto operator<=>(const HeaderProblem&, const HeaderProblem&) = default;

 private:
  HeaderProblem(Kind kind, std::uint32_t value) : kind_(kind), value_(value) {}
  explicit HeaderProblem(const tallowmere::StatsProblem& problem)
      : kind_(Kind::StatsProblem), value_(0), stats_(problem) {}

  Kind kind_;
  std::uint32_t value_;
  // A fixed placeholder unless kind_ is StatsProblem, so that comparisons stay by payload.
  tallowmere::StatsProblem stats_ = tallowmere::StatsProblem::EntriesWithoutLengths();
};

class TALLOWMERE_API IndexProblem {
 public:
  enum class Kind : std::uint8_t {
    HeaderProblem,        // carries the header's HeaderProblem
    TableLongerThanFile,  // the file ends before indexLoc + 16 * numFortunes
    AccessToClosedIndex,  // the index was closed
  };

  static IndexProblem HeaderProblem(const tallowmere::HeaderProblem& problem) {
    return IndexProblem(Kind::HeaderProblem, problem);
  }
  [[nodiscard]] static IndexProblem TableLongerThanFile() {
    return IndexProblem(Kind::TableLongerThanFile);
  }
  static IndexProblem AccessToClosedIndex() { return IndexProblem(Kind::AccessToClosedIndex); }

  [[nodiscard]] Kind kind() const noexcept { return kind_; }
  [[nodiscard]] std::optional<tallowmere::HeaderProblem> headerProblem() const;

  friend auto operator<=>(const IndexProblem&, const IndexProblem&) = default;

 private:
  explicit IndexProblem(Kind kind, tallowmere::HeaderProblem header =
                                       tallowmere::HeaderProblem::TableStartsBeforeHeaderEnds())
      : kind_(kind), header_(header) {}

  Kind kind_;
  tallowmere::HeaderProblem header_;  // a fixed placeholder unless kind_ is HeaderProblem
};

[[nodiscard]] TALLOWMERE_API std::string show(const HeaderProblem& problem, int precedence = 0);
TALLOWMERE_API std::string show(const IndexProblem& problem, int precedence = 0);
TALLOWMERE_API std::ostream& operator<<(std::ostream& out, const HeaderProblem& problem);
TALLOWMERE_API std::ostream& operator<<(std::ostream& out, const IndexProblem& problem);

template <>
TALLOWMERE_API std::optional<HeaderProblem> read<HeaderProblem>(std::string_view text);
template <>
TALLOWMERE_API std::optional<IndexProblem> read<IndexProblem>(std::string_view text);

// An index problem raised as an exception; what() is the text form of the value as raised.
// Its reason is DamagedIndex (Usage for AccessToClosedIndex), and its path the index file's,
// when the index was opened from one.
class TALLOWMERE_API IndexProblemError : public std::runtime_error {
 public:
  IndexProblemError(const IndexProblem& problem, const std::string& message, std::string path = {})
      : std::runtime_error(message), problem_(problem), path_(std::move(path)) {}
  // The raised value as an IndexProblem (a header problem h as HeaderProblem h).
  [[nodiscard]] const IndexProblem& problem() const noexcept { return problem_; }
  [[nodiscard]] const std::string& path() const noexcept { return path_; }
  [[nodiscard]] ErrorReason reason() const noexcept {
    return problem_.kind() == IndexProblem::Kind::AccessToClosedIndex ? ErrorReason::Usage
                                                                      : ErrorReason::DamagedIndex;
  }

 private:
  friend struct detail::ProblemPaths;
  IndexProblem problem_;
  std::string path_;
};

class TALLOWMERE_API HeaderProblemError : public IndexProblemError {
 public:
  using IndexProblemError::IndexProblemError;
  // The raised value as a HeaderProblem.
  [[nodiscard]] HeaderProblem headerProblem() const { return problem().headerProblem().value(); }
};

class TALLOWMERE_API StatsProblemError : public HeaderProblemError {
 public:
  using HeaderProblemError::HeaderProblemError;
  // The raised value as a StatsProblem.
  [[nodiscard]] StatsProblem statsProblem() const { return headerProblem().statsProblem().value(); }
};

// Throw a problem as the most derived exception class its nesting allows, about the index file
// at `path` when one is given.
[[noreturn]] TALLOWMERE_API void throwProblem(const StatsProblem& problem,
                                              const std::string& path = {});
[[noreturn]] TALLOWMERE_API void throwProblem(const HeaderProblem& problem,
                                              const std::string& path = {});
[[noreturn]] TALLOWMERE_API void throwProblem(const IndexProblem& problem,
                                              const std::string& path = {});

}  // namespace tallowmere
