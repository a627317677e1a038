// Pattern: a POSIX extended regular expression over fortune texts, as `-m` searches them.
//
// It matches in the process's LC_CTYPE locale, so that a program that sets a UTF-8 locale gets
// case folding of non-ASCII letters with CaseMode::Insensitive. Before the expression runs, a
// quick test rules out fortunes that lack a literal every match must hold.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tallowmere {

enum class CaseMode { Sensitive, Insensitive };

struct PatternOptions {
  CaseMode caseMode = CaseMode::Sensitive;
};

// Compiled once; matching from several threads at once is safe. Move-only.
class Pattern {
 public:
  // Throws an IOError of reason BadPattern, "bad regular expression '<expression>': <why>", for
  // an expression that does not compile.
  explicit Pattern(std::string_view expression, PatternOptions options = {});
  ~Pattern();
  Pattern(Pattern&&) noexcept;
  Pattern& operator=(Pattern&&) noexcept;

  [[nodiscard]] const std::string& expression() const noexcept;
  // False only when `bytes` cannot match: it lacks the literal every match holds. Cheap.
  [[nodiscard]] bool mayMatch(std::string_view bytes) const noexcept;
  // Whether the pattern has a literal that every match holds, how long it is, and where it next
  // occurs in `text` at or after `from` (npos when it does not, `from` for a pattern without
  // one): for a search of many fortunes at once, which cuts out only those that hold it.
  [[nodiscard]] bool hasLiteral() const noexcept;
  [[nodiscard]] std::size_t literalLength() const noexcept;
  [[nodiscard]] std::size_t findLiteral(std::string_view text, std::size_t from) const noexcept;
  // Whether the fortune with these bytes matches, its invalid UTF-8 read as U+FFFD.
  [[nodiscard]] bool matches(std::string_view bytes) const;

  struct Compiled;

 private:
  std::unique_ptr<Compiled> compiled_;
};

}  // namespace tallowmere
