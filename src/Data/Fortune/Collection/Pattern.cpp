// The regular expression of `-m`, and the literal that rules most fortunes out before it runs.
#include <tallowmere/Data/Fortune/Pattern.hpp>

#include <regex.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/Collection/RequiredLiteral.hpp"
#include "Data/Fortune/FortuneFile/Utf8.hpp"

namespace tallowmere {

namespace {

bool isAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The bytes of one character of the pattern starting at `at`: a UTF-8 sequence stays whole.
std::size_t characterLength(std::string_view pattern, std::size_t at) {
  std::size_t length = 1;
  while (at + length < pattern.size() &&
         (static_cast<unsigned char>(pattern[at + length]) & 0xC0) == 0x80) {
    ++length;
  }
  return length;
}

// The longest run of characters that every match of the POSIX extended regular expression
// `pattern` must contain, as far as a simple reading tells: none for a pattern with an
// alternation, and none inside groups or brackets, before an optional quantifier, or in escapes
// of letters and digits.
std::optional<std::string> requiredLiteralOf(std::string_view pattern) {
  if (pattern.find('|') != std::string_view::npos) return std::nullopt;
  std::vector<std::string> run;  // characters of the run being read
  std::string best;
  const auto endRun = [&] {
    std::string text;
    for (const std::string& c : run) text += c;
    if (text.size() > best.size()) best = text;
    run.clear();
  };
  int depth = 0;
  for (std::size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    std::string literal;
    if (c == '\\' && i + 1 < pattern.size() && !isAsciiAlnum(pattern[i + 1])) {
      literal = std::string(1, pattern[i + 1]);
      i += 2;
    } else if (c == '[') {
      // A bracket expression: "]" right after "[" or "[^" belongs to it.
      std::size_t end = i + 1;
      if (end < pattern.size() && pattern[end] == '^') ++end;
      if (end < pattern.size() && pattern[end] == ']') ++end;
      end = pattern.find(']', end);
      if (end == std::string_view::npos) return std::nullopt;
      endRun();
      i = end + 1;
      continue;
    } else if (c == '*' || c == '?' || c == '{') {
      // What came before is optional (or its count unknown): it leaves the run.
      if (!run.empty()) run.pop_back();
      endRun();
      if (c == '{') {
        const std::size_t end = pattern.find('}', i);
        if (end == std::string_view::npos) return std::nullopt;
        i = end + 1;
      } else {
        ++i;
      }
      continue;
    } else if (c == '\\') {
      // An escaped letter or digit is a class or a reference, not the letter.
      endRun();
      i += 2;
      continue;
    } else if (c == '(' || c == ')' || c == '+' || c == '.' || c == '^' || c == '$') {
      depth += c == '(' ? 1 : c == ')' ? -1 : 0;
      endRun();
      ++i;
      continue;
    } else {
      const std::size_t length = characterLength(pattern, i);
      literal = std::string(pattern.substr(i, length));
      i += length;
    }
    if (depth == 0) {
      run.push_back(literal);
    } else {
      endRun();
    }
  }
  endRun();
  if (best.empty()) return std::nullopt;
  return best;
}

}  // namespace

std::optional<std::string> detail::requiredLiteral(std::string_view pattern) {
  return requiredLiteralOf(pattern);
}

// The compiled expression; regfree runs only for one that compiled.
struct Pattern::Compiled {
  regex_t regex{};
  std::string expression;
  std::optional<std::string> literal;  // lower case under CaseMode::Insensitive
  bool ignoreCase = false;

  Compiled(const regex_t& compiledRegex, std::string text, bool foldCase)
      : regex(compiledRegex), expression(std::move(text)), ignoreCase(foldCase) {}
  Compiled(const Compiled&) = delete;
  Compiled& operator=(const Compiled&) = delete;
  ~Compiled() { regfree(&regex); }
};

Pattern::Pattern(std::string_view expression, PatternOptions options) {
  const bool ignoreCase = options.caseMode == CaseMode::Insensitive;
  const std::string text(expression);
  regex_t regex{};
  const int flags = REG_EXTENDED | REG_NOSUB | (ignoreCase ? REG_ICASE : 0);
  if (const int error = regcomp(&regex, text.c_str(), flags); error != 0) {
    char message[256];
    regerror(error, &regex, message, sizeof message);
    throw IOError::userError("bad regular expression '" + text + "': " + message, {},
                             ErrorReason::BadPattern);
  }
  compiled_ = std::make_unique<Compiled>(regex, text, ignoreCase);
  Compiled& c = *compiled_;
  c.literal = detail::requiredLiteral(c.expression);
  if (c.literal && c.ignoreCase) {
    // Folding case in a search by hand is right for ASCII letters only.
    if (std::any_of(c.literal->begin(), c.literal->end(),
                    [](char ch) { return static_cast<unsigned char>(ch) >= 0x80; })) {
      c.literal.reset();
    } else {
      std::transform(c.literal->begin(), c.literal->end(), c.literal->begin(), lowerAscii);
    }
  }
}

Pattern::~Pattern() = default;
Pattern::Pattern(Pattern&&) noexcept = default;
Pattern& Pattern::operator=(Pattern&&) noexcept = default;

const std::string& Pattern::expression() const noexcept { return compiled_->expression; }

bool Pattern::mayMatch(std::string_view bytes) const noexcept {
  const Compiled& c = *compiled_;
  if (!c.literal) return true;
  const std::string& literal = *c.literal;
  if (!c.ignoreCase) {
    return ::memmem(bytes.data(), bytes.size(), literal.data(), literal.size()) != nullptr;
  }
  const auto same = [](char a, char b) { return lowerAscii(a) == b; };
  return std::search(bytes.begin(), bytes.end(), literal.begin(), literal.end(), same) !=
         bytes.end();
}

bool Pattern::hasLiteral() const noexcept { return compiled_->literal.has_value(); }

std::size_t Pattern::literalLength() const noexcept {
  return compiled_->literal ? compiled_->literal->size() : 0;
}

std::size_t Pattern::findLiteral(std::string_view text, std::size_t from) const noexcept {
  const Compiled& c = *compiled_;
  if (!c.literal) return from;
  if (from > text.size()) return std::string_view::npos;
  const std::string& literal = *c.literal;
  const std::string_view rest = text.substr(from);
  if (!c.ignoreCase) {
    const void* found = ::memmem(rest.data(), rest.size(), literal.data(), literal.size());
    if (found == nullptr) return std::string_view::npos;
    return from + static_cast<std::size_t>(static_cast<const char*>(found) - rest.data());
  }
  const auto same = [](char a, char b) { return lowerAscii(a) == b; };
  const auto found = std::search(rest.begin(), rest.end(), literal.begin(), literal.end(), same);
  if (found == rest.end()) return std::string_view::npos;
  return from + static_cast<std::size_t>(found - rest.begin());
}

bool Pattern::matches(std::string_view bytes) const {
  // Valid UTF-8 without NUL bytes is matched where it lies; anything else as the text a draw
  // would return.
  std::string decoded;
  if (detail::findInvalidUtf8(bytes) || bytes.find('\0') != std::string_view::npos) {
    decoded = detail::decodeUtf8Leniently(bytes);
    return regexec(&compiled_->regex, decoded.c_str(), 0, nullptr, 0) == 0;
  }
  regmatch_t range{};
  range.rm_so = 0;
  range.rm_eo = static_cast<regoff_t>(bytes.size());
  return regexec(&compiled_->regex, bytes.data(), 1, &range, REG_STARTEND) == 0;
}

}  // namespace tallowmere
