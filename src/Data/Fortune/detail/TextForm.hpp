// Writing and reading the library's text forms: constructor applications such as
// "StatsProblem (NegativeCount (-3))", records such as "Header {stats = ..., indexLoc = 64}".
//
// Precedences follow the usual rules for such forms: a constructor applied to a field binds at
// precedence 10, and a field of a constructor is written at precedence 11, so a field that is
// itself an application, or a negative number (precedence 6), is put in parentheses.
//
// TextReader is a small recursive-descent reader over one text. Its tokens are identifiers
// (runs of letters, digits, '_' and '\'' that start with a letter or '_'), unsigned number
// literals (decimal, 0x/0X hexadecimal, 0o/0O octal), '(', ')' and '-'; white space between
// tokens is skipped. A failed alternative backtracks by restoring a saved position. Internal:
// programs do not include this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace tallowmere::detail {

// Precedence of a constructor applied to a field, and of the field itself.
inline constexpr int applicationPrecedence = 10;
inline constexpr int fieldPrecedence = 11;
// A negative number literal binds like unary minus.
inline constexpr int negationPrecedence = 6;

// `text`, enclosed in parentheses when `enclose` holds.
std::string parenthesised(bool enclose, std::string text);
// A constructor with one field shown at `precedence`: "Name field", enclosed in parentheses at
// precedence 11 or more. `field` must already be written at precedence 11.
std::string showApplication(std::string_view name, const std::string& field, int precedence);
// A decimal integer; negative values are enclosed in parentheses above precedence 6.
std::string showInteger(std::int64_t value, int precedence);

class TextReader {
 public:
  explicit TextReader(std::string_view text) noexcept : text_(text) {}

  // Backtracking: a failed alternative restores the position it started from.
  [[nodiscard]] std::size_t position() const noexcept { return position_; }
  void restore(std::size_t position) noexcept { position_ = position; }

  // Consumes the next token when it is an identifier and returns it.
  std::optional<std::string_view> identifier();
  // Consumes the next token when it is the punctuation character `c` ('(', ')' or '-').
  bool punctuation(char c);
  // An integer literal valid at `precedence`, in any number of parentheses. A negative literal
  // ("-3", "- 3") is accepted only at precedence 6 or below. Digits accumulate with 64-bit
  // wrap-around, so every literal yields some 64-bit value.
  std::optional<std::int64_t> integer(int precedence);
  // True when nothing but white space is left.
  bool atEnd();

  // The value read by `body` at `precedence`, or enclosed in any number of parentheses, inside
  // which the precedence starts again at 0. `body(int precedence)` returns an optional value
  // and may leave the position anywhere when it fails; it must not begin with '(' itself.
  // Iterative, so that deeply nested parentheses cannot exhaust the stack.
  template <class Body>
  auto optionalParens(int precedence, Body&& body) -> std::invoke_result_t<Body&, int> {
    const std::size_t start = position_;
    std::size_t depth = 0;
    for (;;) {
      const std::size_t attempt = position_;
      if (auto value = body(depth == 0 ? precedence : 0)) {
        while (depth > 0 && punctuation(')')) --depth;
        if (depth == 0) return value;
        break;
      }
      restore(attempt);
      if (!punctuation('(')) break;
      ++depth;
    }
    restore(start);
    return std::nullopt;
  }

 private:
  void skipSpace() noexcept;
  std::optional<std::uint64_t> unsignedLiteral();

  std::string_view text_;
  std::size_t position_ = 0;
};

// Reads the whole of `text` with `parse(reader, 0)`; leading and trailing white space is
// allowed, anything else left over makes the parse fail.
template <class Parse>
auto readWhole(std::string_view text, Parse&& parse)
    -> std::invoke_result_t<Parse&, TextReader&, int> {
  TextReader reader(text);
  auto value = parse(reader, 0);
  if (value && reader.atEnd()) return value;
  return std::nullopt;
}

}  // namespace tallowmere::detail
