// Regular expressions over fortune texts: the search behind `tallowmere -m`.
//
//   const Pattern pattern("colou?r", {.caseMode = CaseMode::Insensitive});
//   forEachFortune(file, [&](std::int64_t, const IndexEntry&, std::string_view bytes) {
//     if (pattern.matches(bytes)) std::cout << decodeUtf8Leniently(bytes) << '\n';
//   });
//
// A Pattern is a POSIX extended regular expression (regcomp with REG_EXTENDED, so the GNU
// operators \w, \<, \b, back-references ... work as they do there), plus a quick test that rules
// out most fortunes before the expression runs: a literal that every match must hold, when the
// expression has one that can be read off it with certainty. The literal is a run of bytes,
// each one of a known set: "l[aeiou]ve" holds "l", one of "aeiou", "v" and "e"; "gr(a|e)y" and
// "[0-9]{4}" hold such runs too. When the expression is nothing but its literal, a text that
// holds the literal matches without the expression running.
//
// Locale: the pattern is compiled, and every match runs, in the locale that the constructing
// thread uses (uselocale, else the global locale that setlocale set), captured when it is
// built. A program that wants the user's locale (so that Insensitive folds non-ASCII letters
// and "." matches one UTF-8 character, not one byte) calls setlocale(LC_CTYPE, "") before
// building its patterns; the library never changes the process's locale itself.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

// Whether letters match their other case.
enum class CaseMode { Sensitive, Insensitive };

struct TALLOWMERE_API PatternOptions {
  CaseMode caseMode = CaseMode::Sensitive;
};

// A compiled POSIX extended regular expression over fortune texts. Move-only; one Pattern may
// serve several threads at once (the C library serialises them on the compiled expression, so
// they do not match in parallel). A moved-from Pattern may only be assigned to or destroyed.
class TALLOWMERE_API Pattern {
 public:
  // Throws IOError::userError("bad regular expression '<expression>': <why>", {},
  // ErrorReason::BadPattern) for an expression that does not compile (or that holds a NUL byte,
  // which would cut it short), std::bad_alloc when memory runs out.
  explicit Pattern(std::string_view expression, PatternOptions options = {});
  ~Pattern();
  Pattern(Pattern&& other) noexcept;
  Pattern& operator=(Pattern&& other) noexcept;
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;

  [[nodiscard]] const std::string& expression() const noexcept;
  [[nodiscard]] PatternOptions options() const noexcept;

  // False only when `bytes` cannot match: they lack a literal that every match holds. Cheap (a
  // search of the bytes for the literal's run); always true for an expression without such a
  // literal. For callers that want to skip work (decoding, say) before matches().
  [[nodiscard]] bool mayMatch(std::string_view bytes) const noexcept;

  // Whether there is such a literal, how long its run is in bytes, and where it next occurs in
  // `text` at or after `from` (npos when it does not; `from` itself without a literal): for a
  // search of many fortunes at once, which cuts out only those that hold it.
  [[nodiscard]] bool hasLiteral() const noexcept;
  [[nodiscard]] std::size_t literalLength() const noexcept;
  [[nodiscard]] std::size_t findLiteral(std::string_view text, std::size_t from) const noexcept;

  // Whether the fortune whose bytes these are matches: what regexec says of its text decoded
  // leniently (every invalid UTF-8 sequence read as U+FFFD; a NUL byte is a character like
  // another). Valid UTF-8 is matched where it lies, without a copy. Runs mayMatch() first.
  // Throws std::bad_alloc when the C library runs out of memory.
  [[nodiscard]] bool matches(std::string_view bytes) const;

 private:
  struct TALLOWMERE_HIDDEN State;
  std::unique_ptr<State> state_;
};

}  // namespace tallowmere
