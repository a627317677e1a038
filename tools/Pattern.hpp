// The regular expression of -m, with a quick test that rules most fortunes out before it runs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <regex.h>

namespace tallowmere::cli {

// The longest run of characters that every match of the POSIX extended regular expression
// `pattern` must contain, as far as a simple reading tells: none for a pattern with an
// alternation, and none inside groups or brackets, before an optional quantifier, or in escapes
// of letters and digits.
std::optional<std::string> requiredLiteral(std::string_view pattern);

// A compiled POSIX extended regular expression, freed on every exit path.
class Pattern {
 public:
  // Throws BadUsage for a pattern that does not compile.
  Pattern(const std::string& text, bool ignoreCase);
  ~Pattern();
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;

  // Whether `bytes` may match: false only when it lacks the pattern's required literal. Cheap.
  [[nodiscard]] bool mayMatch(std::string_view bytes) const;
  // Whether `text` matches.
  [[nodiscard]] bool matches(const std::string& text) const;

 private:
  regex_t regex_;
  std::optional<std::string> literal_;  // lower case under ignoreCase
  bool ignoreCase_;
};

}  // namespace tallowmere::cli
