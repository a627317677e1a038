#include "Data/Fortune/detail/TextForm.hpp"

namespace tallowmere::detail {
namespace {

bool isSpace(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool isLetter(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }
bool isIdentifierStart(char c) noexcept { return isLetter(c) || c == '_'; }
bool isIdentifierPart(char c) noexcept { return isIdentifierStart(c) || isDigit(c) || c == '\''; }

// The value of `c` as a digit in `base` (8, 10 or 16), or -1.
int digitValue(char c, int base) noexcept {
  int value = -1;
  if (isDigit(c))
    value = c - '0';
  else if (c >= 'a' && c <= 'f')
    value = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F')
    value = c - 'A' + 10;
  return value < base ? value : -1;
}

}  // namespace

std::string parenthesised(bool enclose, std::string text) {
  if (!enclose) return text;
  return "(" + text + ")";
}

std::string showApplication(std::string_view name, const std::string& field, int precedence) {
  std::string text(name);
  text += ' ';
  text += field;
  return parenthesised(precedence > applicationPrecedence, std::move(text));
}

std::string showInteger(std::int64_t value, int precedence) {
  return parenthesised(value < 0 && precedence > negationPrecedence, std::to_string(value));
}

void TextReader::skipSpace() noexcept {
  while (position_ < text_.size() && isSpace(text_[position_])) ++position_;
}

std::optional<std::string_view> TextReader::identifier() {
  skipSpace();
  const std::size_t start = position_;
  if (start == text_.size() || !isIdentifierStart(text_[start])) return std::nullopt;
  while (position_ < text_.size() && isIdentifierPart(text_[position_])) ++position_;
  return text_.substr(start, position_ - start);
}

bool TextReader::punctuation(char c) {
  skipSpace();
  if (position_ == text_.size() || text_[position_] != c) return false;
  ++position_;
  return true;
}

// A number token: decimal digits, or 0x/0X followed by hexadecimal digits, or 0o/0O followed
// by octal digits. A prefix without a digit after it leaves the "0" alone as a decimal number
// (what follows then fails as a token of its own).
std::optional<std::uint64_t> TextReader::unsignedLiteral() {
  skipSpace();
  if (position_ == text_.size() || !isDigit(text_[position_])) return std::nullopt;
  int base = 10;
  if (text_[position_] == '0' && position_ + 2 < text_.size()) {
    const char prefix = text_[position_ + 1];
    const int prefixBase = (prefix == 'x' || prefix == 'X')   ? 16
                           : (prefix == 'o' || prefix == 'O') ? 8
                                                              : 0;
    if (prefixBase != 0 && digitValue(text_[position_ + 2], prefixBase) >= 0) {
      base = prefixBase;
      position_ += 2;
    }
  }
  // Unsigned arithmetic wraps modulo 2^64, which is the reduction wanted.
  std::uint64_t value = 0;
  while (position_ < text_.size()) {
    const int digit = digitValue(text_[position_], base);
    if (digit < 0) break;
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    ++position_;
  }
  return value;
}

std::optional<std::int64_t> TextReader::integer(int precedence) {
  return optionalParens(precedence, [this](int p) -> std::optional<std::int64_t> {
    const bool negative = punctuation('-');
    if (negative && p > negationPrecedence) return std::nullopt;
    const std::optional<std::uint64_t> magnitude = unsignedLiteral();
    if (!magnitude) return std::nullopt;
    // Conversion of an out-of-range unsigned value to a signed type is modular in C++20.
    return static_cast<std::int64_t>(negative ? 0 - *magnitude : *magnitude);
  });
}

bool TextReader::atEnd() {
  skipSpace();
  return position_ == text_.size();
}

}  // namespace tallowmere::detail
