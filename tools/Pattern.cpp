#include "Pattern.hpp"

#include <algorithm>
#include <clocale>
#include <functional>
#include <vector>

#include "CommandLine.hpp"

namespace tallowmere::cli {

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

}  // namespace

std::optional<std::string> requiredLiteral(std::string_view pattern) {
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

Pattern::Pattern(const std::string& text, bool ignoreCase) : ignoreCase_(ignoreCase) {
  // Regular expressions follow the user's locale, so that -i folds the case of non-ASCII
  // letters in a UTF-8 locale. Loaded here, as only patterns need it: a plain draw does not
  // pay for reading the locale files.
  std::setlocale(LC_CTYPE, "");
  const int flags = REG_EXTENDED | REG_NOSUB | (ignoreCase ? REG_ICASE : 0);
  if (const int error = regcomp(&regex_, text.c_str(), flags); error != 0) {
    char message[256];
    regerror(error, &regex_, message, sizeof message);
    throw BadUsage("bad regular expression '" + text + "': " + message);
  }
  literal_ = requiredLiteral(text);
  if (literal_ && ignoreCase) {
    // Folding case in a search by hand is right for ASCII letters only.
    if (std::any_of(literal_->begin(), literal_->end(),
                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
      literal_.reset();
    } else {
      std::transform(literal_->begin(), literal_->end(), literal_->begin(), lowerAscii);
    }
  }
}

Pattern::~Pattern() { regfree(&regex_); }

bool Pattern::mayMatch(std::string_view bytes) const {
  if (!literal_) return true;
  if (!ignoreCase_) return bytes.find(*literal_) != std::string_view::npos;
  const auto same = [](char a, char b) { return lowerAscii(a) == b; };
  return std::search(bytes.begin(), bytes.end(), literal_->begin(), literal_->end(), same) !=
         bytes.end();
}

bool Pattern::matches(const std::string& text) const {
  return regexec(&regex_, text.c_str(), 0, nullptr, 0) == 0;
}

}  // namespace tallowmere::cli
