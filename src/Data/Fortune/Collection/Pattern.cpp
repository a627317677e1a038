// Regular expressions over fortune texts (Data/Fortune/Pattern.hpp): regcomp/regexec in a
// captured locale, behind a literal prefilter.
//
// The prefilter reads the expression as the C library does and takes from it the longest text
// that every match must hold. It must never be wrong, since a fortune it rules out is never
// shown to regexec: it reads only what it understands for certain (plain characters, and the
// escaped characters that POSIX defines as literal), counts everything else it can delimit (a
// bracket expression, ".", a class escape, a back-reference) as some unknown text, counts
// anchors as empty, and gives up, leaving the pattern without a literal, on anything else.
#include <tallowmere/Data/Fortune/Pattern.hpp>

#include <langinfo.h>
#include <locale.h>
#include <regex.h>
#include <wctype.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/FortuneFile/Utf8.hpp"

namespace tallowmere {

namespace {

// ---------------------------------------------------------------------------------------------
// The locale

// Makes `locale` the calling thread's locale until the end of the scope.
class LocaleScope {
 public:
  explicit LocaleScope(locale_t locale) noexcept : previous_(uselocale(locale)) {}
  ~LocaleScope() { uselocale(previous_); }
  LocaleScope(const LocaleScope&) = delete;
  LocaleScope& operator=(const LocaleScope&) = delete;

 private:
  locale_t previous_;
};

// A copy of the calling thread's locale (the global one unless the thread chose its own), so
// that a pattern is compiled and run in one locale whatever thread runs it and whatever the
// program does to its locale later: the C library reads the text with the character width it
// compiled the expression for.
class OwnedLocale {
 public:
  OwnedLocale() : locale_(duplocale(uselocale(nullptr))) {
    if (locale_ == nullptr) throw std::bad_alloc();
  }
  ~OwnedLocale() { freelocale(locale_); }
  OwnedLocale(const OwnedLocale&) = delete;
  OwnedLocale& operator=(const OwnedLocale&) = delete;
  [[nodiscard]] locale_t get() const noexcept { return locale_; }

 private:
  locale_t locale_;
};

// How the C library reads pattern and text in the current locale.
enum class Encoding {
  SingleByte,      // every byte is a character
  Utf8,            // the fortune texts' own encoding
  OtherMultibyte,  // one whose trailing bytes may look like ASCII: no literal beyond ASCII
};

Encoding currentEncoding() {
  if (MB_CUR_MAX == 1) return Encoding::SingleByte;
  return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0 ? Encoding::Utf8
                                                         : Encoding::OtherMultibyte;
}

// Whether `c` is one of `set` (never the NUL that ends it).
bool isOneOf(char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; }

constexpr bool isAsciiUpper(unsigned c) { return c >= 'A' && c <= 'Z'; }
constexpr bool isAsciiLower(unsigned c) { return c >= 'a' && c <= 'z'; }
constexpr unsigned asciiLower(unsigned c) { return isAsciiUpper(c) ? c + ('a' - 'A') : c; }
constexpr unsigned asciiUpper(unsigned c) { return isAsciiLower(c) ? c - ('a' - 'A') : c; }

// Which ASCII characters, ignoring case, match nothing but themselves and their ASCII other
// case. Under REG_ICASE the C library compares the upper case of every character, and some
// locales map other characters onto ASCII letters ("ſ" onto "S", "ı" onto "I") or ASCII letters
// off it (the Turkish "i" onto "İ"): a literal holding such a letter could miss a match, so
// those letters end a literal. Found by asking the locale about every character that has a
// case mapping in practice: the single bytes, or Unicode's first two planes (the later planes
// hold no cased letters).
std::array<bool, 128> findAsciiFoldsAlone(Encoding encoding) {
  std::array<bool, 128> alone{};
  alone.fill(true);
  const auto spoil = [&](unsigned c) {
    if (c < 128) alone[c] = alone[asciiLower(c)] = alone[asciiUpper(c)] = false;
  };
  const bool bytes = encoding == Encoding::SingleByte;
  const auto upper = [&](unsigned c) {
    return bytes ? static_cast<unsigned>(std::toupper(static_cast<int>(c)))
                 : static_cast<unsigned>(towupper(static_cast<wint_t>(c)));
  };
  const auto lower = [&](unsigned c) {
    return bytes ? static_cast<unsigned>(std::tolower(static_cast<int>(c)))
                 : static_cast<unsigned>(towlower(static_cast<wint_t>(c)));
  };
  for (unsigned c = 0; c < 128; ++c) {
    if (upper(c) != asciiUpper(c) || lower(c) != asciiLower(c)) {
      spoil(c);
      spoil(upper(c));
      spoil(lower(c));
    }
  }
  const unsigned end = bytes ? 0x100 : 0x20000;
  for (unsigned c = 128; c < end; ++c) {
    spoil(upper(c));
    spoil(lower(c));
  }
  return alone;
}

// The same, remembered for each locale: asking a multibyte locale about its characters takes a
// millisecond or so.
std::array<bool, 128> asciiFoldsAlone(Encoding encoding) {
  if (encoding == Encoding::SingleByte) return findAsciiFoldsAlone(encoding);
#ifdef NL_LOCALE_NAME
  static std::mutex mutex;
  static std::map<std::string, std::array<bool, 128>, std::less<>> known;
  const std::string_view name = nl_langinfo(NL_LOCALE_NAME(LC_CTYPE));
  const std::scoped_lock lock(mutex);
  if (const auto found = known.find(name); found != known.end()) return found->second;
  return known.emplace(name, findAsciiFoldsAlone(encoding)).first->second;
#else
  return findAsciiFoldsAlone(encoding);
#endif
}

// ---------------------------------------------------------------------------------------------
// What every match of a part of an expression holds

// Facts about the text of every match of a part of an expression. An exact part matches only
// `prefix` (suffix and inner are then unused); otherwise every match begins with `prefix`, ends
// with `suffix` and holds `inner` somewhere (each possibly empty, which says nothing).
struct Facts {
  bool exact = true;  // the default: the part that matches only the empty text
  std::string prefix;
  std::string suffix;
  std::string inner;

  static Facts unknown() { return {false, {}, {}, {}}; }
  static Facts text(std::string_view literal) { return {true, std::string(literal), {}, {}}; }

  [[nodiscard]] const std::string& ending() const { return exact ? prefix : suffix; }
  [[nodiscard]] const std::string& longest() const {
    if (exact) return prefix;
    const std::string& ends = prefix.size() >= suffix.size() ? prefix : suffix;
    return ends.size() >= inner.size() ? ends : inner;
  }
};

void keepLonger(std::string& best, std::string&& candidate) {
  if (candidate.size() > best.size()) best = std::move(candidate);
}

// `a` followed by `b`, into `a`; linear in what moves from a suffix into the middle, so that a
// long expression is read in linear time.
void append(Facts& a, Facts&& b) {
  if (a.exact && b.exact) {
    a.prefix += b.prefix;
  } else if (a.exact) {
    b.prefix.insert(0, a.prefix);
    a = std::move(b);
  } else if (b.exact) {
    a.suffix += b.prefix;
  } else {
    std::string bridge = std::move(a.suffix);
    bridge += b.prefix;
    keepLonger(a.inner, std::move(bridge));
    keepLonger(a.inner, std::move(b.inner));
    a.suffix = std::move(b.suffix);
  }
}

// The whole characters at the front (or back) of `text`, which may end (or begin) inside a
// UTF-8 sequence after a common prefix (or suffix) was cut.
std::string wholeCharactersAtFront(std::string text) {
  std::size_t end = text.size();
  std::size_t start = end;
  while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) --start;
  if (start > 0 && static_cast<unsigned char>(text[start - 1]) >= 0xC0) {
    const auto lead = static_cast<unsigned char>(text[start - 1]);
    const std::size_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (end - (start - 1) < length) end = start - 1;
  }
  text.resize(end);
  return text;
}

std::string wholeCharactersAtBack(std::string text) {
  std::size_t start = 0;
  while (start < text.size() && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
    ++start;
  }
  return text.substr(start);
}

// Either `a` or `b`.
Facts alternate(Facts a, Facts b) {
  if (a.exact && b.exact && a.prefix == b.prefix) return a;
  const std::string& endA = a.ending();
  const std::string& endB = b.ending();
  std::size_t front = 0;
  while (front < a.prefix.size() && front < b.prefix.size() && a.prefix[front] == b.prefix[front]) {
    ++front;
  }
  std::size_t back = 0;
  while (back < endA.size() && back < endB.size() &&
         endA[endA.size() - 1 - back] == endB[endB.size() - 1 - back]) {
    ++back;
  }
  Facts either = Facts::unknown();
  either.prefix = wholeCharactersAtFront(a.prefix.substr(0, front));
  either.suffix = wholeCharactersAtBack(endA.substr(endA.size() - back));
  return either;
}

// `part` repeated at least `least` times and at most `most` (none: without bound).
Facts repeat(Facts part, std::size_t least, std::optional<std::size_t> most) {
  if (most == 0) return Facts{};
  if (least == 0) return Facts::unknown();
  // The first copy begins every match and the last one ends it.
  if (!part.exact || part.prefix.empty()) return part;
  // Enough copies to be useful and not so many that a{30000} takes much memory.
  constexpr std::size_t longestKept = 1024;
  const std::size_t copies =
      std::min(least, std::max<std::size_t>(1, longestKept / part.prefix.size()));
  std::string repeated;
  for (std::size_t i = 0; i < copies; ++i) repeated += part.prefix;
  if (most == least && copies == least) return Facts::text(repeated);
  return {false, repeated, repeated, {}};
}

// ---------------------------------------------------------------------------------------------
// Reading an expression

// Thrown inside ExpressionReader for what it does not read with certainty.
struct Unreadable {};

// Reads a POSIX extended regular expression, as glibc's regcomp reads it, into Facts. Runs on an
// expression that regcomp accepted, so it need not diagnose errors: it gives up on them.
class ExpressionReader {
 public:
  ExpressionReader(std::string_view expression, Encoding encoding, CaseMode caseMode,
                   const std::array<bool, 128>& foldsAlone)
      : text_(expression), encoding_(encoding), caseMode_(caseMode), foldsAlone_(foldsAlone) {}

  // The facts of the whole expression, or none when it holds something not read for certain.
  std::optional<Facts> read() {
    try {
      Facts facts = alternation(0);
      if (at_ != text_.size()) return std::nullopt;  // an unmatched ")": ordinary to glibc
      return facts;
    } catch (const Unreadable&) {
      return std::nullopt;
    }
  }

 private:
  // A part with whether a quantifier may follow it (anchors take none).
  struct Piece {
    Facts facts;
    bool repeatable = true;
  };

  // Deeper groups than this are not read (the reader recurses once per group).
  static constexpr int deepestGroup = 256;

  [[nodiscard]] bool atEnd() const { return at_ == text_.size(); }
  [[nodiscard]] char peek() const { return text_[at_]; }
  [[noreturn]] static void giveUp() { throw Unreadable{}; }

  Facts alternation(int depth) {
    Facts facts = branch(depth);
    while (!atEnd() && peek() == '|') {
      ++at_;
      facts = alternate(std::move(facts), branch(depth));
    }
    return facts;
  }

  Facts branch(int depth) {
    Facts facts;
    while (!atEnd() && peek() != '|' && peek() != ')') {
      Piece piece = atom(depth);
      while (!atEnd() && isQuantifier(peek())) {
        if (!piece.repeatable) giveUp();
        piece.facts = quantified(std::move(piece.facts));
      }
      append(facts, std::move(piece.facts));
    }
    return facts;
  }

  static bool isQuantifier(char c) { return c == '*' || c == '+' || c == '?' || c == '{'; }

  Piece atom(int depth) {
    switch (peek()) {
      case '(': {
        if (depth == deepestGroup) giveUp();
        ++at_;
        Facts group = alternation(depth + 1);
        if (atEnd() || peek() != ')') giveUp();
        ++at_;
        return {std::move(group)};
      }
      case '[':
        skipBracketExpression();
        return {Facts::unknown()};
      case '.':
        ++at_;
        return {Facts::unknown()};
      case '^':
      case '$':
        ++at_;
        return {Facts{}, false};
      case '\\':
        return escape();
      default:
        if (isQuantifier(peek())) giveUp();  // with nothing to repeat
        return {character()};
    }
  }

  Piece escape() {
    if (at_ + 1 == text_.size()) giveUp();
    const char c = text_[at_ + 1];
    at_ += 2;
    if (isOneOf(c, "^.[$()|*+?{\\")) return {literal(std::string_view(&c, 1))};
    if (isOneOf(c, "<>bB`'")) return {Facts{}, false};  // GNU anchors
    // GNU classes (\w \W \s \S), back-references (\1 to \9), and escapes whose meaning POSIX
    // leaves open: some text, unknown.
    if (static_cast<unsigned char>(c) >= 0x80) giveUp();
    return {Facts::unknown()};
  }

  // A plain character: a UTF-8 sequence in a UTF-8 locale, else one byte.
  Facts character() {
    const auto lead = static_cast<unsigned char>(peek());
    std::size_t length = 1;
    if (lead >= 0x80) {
      if (encoding_ == Encoding::OtherMultibyte) giveUp();
      if (encoding_ == Encoding::Utf8) {
        const detail::Utf8Char c = detail::decodeUtf8(text_.substr(at_));
        if (!c.valid) giveUp();
        length = c.length;
      }
    }
    const std::string_view bytes = text_.substr(at_, length);
    at_ += length;
    return literal(bytes);
  }

  // What the character `bytes` of the expression matches.
  [[nodiscard]] Facts literal(std::string_view bytes) const {
    if (caseMode_ == CaseMode::Sensitive) return Facts::text(bytes);
    const auto c = static_cast<unsigned char>(bytes[0]);
    if (bytes.size() > 1 || c >= 0x80 || !foldsAlone_[c]) return Facts::unknown();
    const char folded = static_cast<char>(asciiLower(c));
    return Facts::text(std::string_view(&folded, 1));
  }

  Facts quantified(Facts part) {
    const char c = peek();
    ++at_;
    if (c == '*') return repeat(std::move(part), 0, std::nullopt);
    if (c == '+') return repeat(std::move(part), 1, std::nullopt);
    if (c == '?') return repeat(std::move(part), 0, 1);
    // {m}, {m,}, {m,n}, and glibc's {,n} for {0,n}.
    const std::size_t least = number().value_or(0);
    std::optional<std::size_t> most = least;
    if (!atEnd() && peek() == ',') {
      ++at_;
      most = number();
    }
    if (atEnd() || peek() != '}') giveUp();
    ++at_;
    return repeat(std::move(part), least, most);
  }

  // The decimal number at the reading position, if there is one.
  std::optional<std::size_t> number() {
    std::optional<std::size_t> value;
    while (!atEnd() && peek() >= '0' && peek() <= '9') {
      value = std::min<std::size_t>(value.value_or(0) * 10 + static_cast<std::size_t>(peek() - '0'),
                                    std::numeric_limits<std::uint32_t>::max());
      ++at_;
    }
    return value;
  }

  // Passes a bracket expression whole: "]" first (after "[" or "[^") is a member, and "[:",
  // "[." and "[=" open a class, collating element or equivalence class that runs to ":]", ".]"
  // or "=]". A backslash is an ordinary member.
  void skipBracketExpression() {
    std::size_t i = at_ + 1;
    if (i < text_.size() && text_[i] == '^') ++i;
    if (i < text_.size() && text_[i] == ']') ++i;
    while (i < text_.size()) {
      const char c = text_[i];
      if (c == ']') {
        at_ = i + 1;
        return;
      }
      if (static_cast<unsigned char>(c) >= 0x80 && encoding_ == Encoding::OtherMultibyte) {
        giveUp();
      }
      if (c == '[' && i + 1 < text_.size() && isOneOf(text_[i + 1], ":.=")) {
        const char close[] = {text_[i + 1], ']', '\0'};
        const std::size_t end = text_.find(close, i + 2);
        if (end == std::string_view::npos) giveUp();
        i = end + 2;
      } else {
        ++i;
      }
    }
    giveUp();
  }

  std::string_view text_;
  std::size_t at_ = 0;
  Encoding encoding_;
  CaseMode caseMode_;
  const std::array<bool, 128>& foldsAlone_;
};

// The literal to search for: the longest text every match holds, in the current locale. None
// when there is none, or when the decoded text could hold it where the bytes do not (a literal
// that is not whole UTF-8 characters, or that holds U+FFFD, which stands for invalid bytes).
std::optional<std::string> requiredLiteral(std::string_view expression, CaseMode caseMode) {
  const Encoding encoding = currentEncoding();
  std::array<bool, 128> foldsAlone{};
  if (caseMode == CaseMode::Insensitive) foldsAlone = asciiFoldsAlone(encoding);
  const std::optional<Facts> facts =
      ExpressionReader(expression, encoding, caseMode, foldsAlone).read();
  if (!facts) return std::nullopt;
  std::string literal = facts->longest();
  if (literal.empty() || detail::findInvalidUtf8(literal) ||
      literal.find("\xEF\xBF\xBD") != std::string::npos) {
    return std::nullopt;
  }
  return literal;
}

// ---------------------------------------------------------------------------------------------
// Searching for the literal

constexpr unsigned char foldAscii(unsigned char c) {
  return static_cast<unsigned char>(asciiLower(c));
}

// A search for `literal`, or, folding ASCII case, for `literal` in ASCII lower case. Sixteen
// places at a time are tested for the literal's first and last bytes (folding, a letter matches
// the text's byte with bit 0x20 set, which only its two cases give), and only the places that
// pass both are compared whole: in text, few do. On fortunes, a few hundred bytes long, this
// is twice as fast as memmem, whose setup does not pay for itself on short texts.
class LiteralSearcher {
 public:
  LiteralSearcher(std::string literal, CaseMode caseMode)
      : literal_(std::move(literal)), folded_(caseMode == CaseMode::Insensitive) {}

  [[nodiscard]] bool foundIn(std::string_view text) const noexcept {
    return find(text) != std::string_view::npos;
  }

  [[nodiscard]] std::size_t length() const noexcept { return literal_.size(); }

  // Where the literal first occurs in `text`; npos when it does not.
  [[nodiscard]] std::size_t find(std::string_view text) const noexcept {
    const std::size_t size = literal_.size();
    if (text.size() < size) return std::string_view::npos;
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t places = text.size() - size + 1;
    std::size_t at = 0;
#if defined(__SSE2__)
    const auto first = static_cast<unsigned char>(literal_.front());
    const auto last = static_cast<unsigned char>(literal_.back());
    const __m128i firstWanted = _mm_set1_epi8(static_cast<char>(first));
    const __m128i lastWanted = _mm_set1_epi8(static_cast<char>(last));
    const __m128i firstFold = _mm_set1_epi8(folded_ && isAsciiLower(first) ? 0x20 : 0);
    const __m128i lastFold = _mm_set1_epi8(folded_ && isAsciiLower(last) ? 0x20 : 0);
    for (; at + 16 <= places; at += 16) {
      const __m128i front = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
      const __m128i back = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + size - 1));
      const __m128i both =
          _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(front, firstFold), firstWanted),
                        _mm_cmpeq_epi8(_mm_or_si128(back, lastFold), lastWanted));
      for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(both)); mask != 0;
           mask &= mask - 1) {
        const std::size_t place = at + static_cast<unsigned>(__builtin_ctz(mask));
        if (equalAt(data + place)) return place;
      }
    }
#endif
    for (; at < places; ++at) {
      if (equalAt(data + at)) return at;
    }
    return std::string_view::npos;
  }

 private:
  [[nodiscard]] bool equalAt(const unsigned char* place) const noexcept {
    if (!folded_) return std::memcmp(place, literal_.data(), literal_.size()) == 0;
    for (std::size_t i = 0; i < literal_.size(); ++i) {
      if (foldAscii(place[i]) != static_cast<unsigned char>(literal_[i])) return false;
    }
    return true;
  }

  std::string literal_;
  bool folded_;
};

// ---------------------------------------------------------------------------------------------
// Pattern

// A regex_t that regcomp filled, freed with it.
struct CompiledExpression {
  CompiledExpression() = default;
  ~CompiledExpression() {
    if (compiled) regfree(&regex);
  }
  CompiledExpression(const CompiledExpression&) = delete;
  CompiledExpression& operator=(const CompiledExpression&) = delete;

  regex_t regex{};
  bool compiled = false;
};

}  // namespace

struct Pattern::State {
  State(std::string_view text, PatternOptions patternOptions)
      : expression(text), options(patternOptions) {
    if (const std::size_t nul = expression.find('\0'); nul != std::string::npos) {
      std::string shown = expression;
      for (std::size_t at = nul; at != std::string::npos; at = shown.find('\0', at)) {
        shown.replace(at, 1, "\\0");
      }
      throw IOError::userError("bad regular expression '" + shown + "': it holds a NUL byte", {},
                               ErrorReason::BadPattern);
    }
    const LocaleScope scope(locale.get());
    const bool insensitive = options.caseMode == CaseMode::Insensitive;
    const int flags = REG_EXTENDED | REG_NOSUB | (insensitive ? REG_ICASE : 0);
    if (const int error = regcomp(&compiled.regex, expression.c_str(), flags); error != 0) {
      if (error == REG_ESPACE) throw std::bad_alloc();
      char message[256];
      regerror(error, &compiled.regex, message, sizeof message);
      throw IOError::userError("bad regular expression '" + expression + "': " + message, {},
                               ErrorReason::BadPattern);
    }
    compiled.compiled = true;
    if (std::optional<std::string> literal = requiredLiteral(expression, options.caseMode)) {
      searcher.emplace(std::move(*literal), options.caseMode);
    }
  }
  // regexec on valid UTF-8 (or on any bytes, in a locale that is not UTF-8), where it lies.
  [[nodiscard]] bool execute(std::string_view text) const {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<regoff_t>::max())) {
      throw IOError::userError("a text of " + std::to_string(text.size()) +
                                   " bytes is too long for a regular expression",
                               {}, ErrorReason::TooLarge);
    }
    const LocaleScope scope(locale.get());
    regmatch_t range{};
    range.rm_so = 0;
    range.rm_eo = static_cast<regoff_t>(text.size());
    const char* data = text.empty() ? "" : text.data();
    const int result = regexec(&compiled.regex, data, 1, &range, REG_STARTEND);
    if (result == REG_ESPACE) throw std::bad_alloc();
    return result == 0;
  }

  std::string expression;
  PatternOptions options;
  OwnedLocale locale;
  CompiledExpression compiled;
  std::optional<LiteralSearcher> searcher;  // none without a literal
};

Pattern::Pattern(std::string_view expression, PatternOptions options)
    : state_(std::make_unique<State>(expression, options)) {}

Pattern::~Pattern() = default;
Pattern::Pattern(Pattern&& other) noexcept = default;
Pattern& Pattern::operator=(Pattern&& other) noexcept = default;

const std::string& Pattern::expression() const noexcept { return state_->expression; }

PatternOptions Pattern::options() const noexcept { return state_->options; }

bool Pattern::mayMatch(std::string_view bytes) const noexcept {
  return !state_->searcher || state_->searcher->foundIn(bytes);
}

bool Pattern::hasLiteral() const noexcept { return state_->searcher.has_value(); }

std::size_t Pattern::literalLength() const noexcept {
  return state_->searcher ? state_->searcher->length() : 0;
}

std::size_t Pattern::findLiteral(std::string_view text, std::size_t from) const noexcept {
  if (!state_->searcher) return from;
  if (from > text.size()) return std::string_view::npos;
  const std::size_t found = state_->searcher->find(text.substr(from));
  return found == std::string_view::npos ? found : from + found;
}

bool Pattern::matches(std::string_view bytes) const {
  if (!mayMatch(bytes)) return false;
  if (!detail::findInvalidUtf8(bytes)) return state_->execute(bytes);
  return state_->execute(detail::decodeUtf8Leniently(bytes));
}

}  // namespace tallowmere
