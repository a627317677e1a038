// Regular expressions over fortune texts (Data/Fortune/Pattern.hpp): regcomp/regexec in a
// captured locale, behind a literal prefilter.
//
// The prefilter reads the expression as the C library does and takes from it a run of bytes,
// each from a known set, that every match must hold ("l[aeiou]ve" holds "l", one of "aeiou",
// "v", "e"), choosing the run that rules out most text. It must never be wrong, since a fortune
// it rules out is never shown to regexec: it reads only what it understands for certain (plain
// characters, the escaped characters that POSIX defines as literal, and bracket expressions that
// match ASCII characters only, whose members it asks of the C library), counts everything else
// it can delimit (other bracket expressions, ".", a class escape, a back-reference) as some
// unknown text, counts anchors as empty, and gives up, leaving the pattern without a run, on
// anything else.
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
#include <bit>
#include <cctype>
#include <cmath>
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
#include <vector>

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
// hold no cased letters). In a text of ASCII characters only, no other character can fold onto
// a letter, and the locale need only keep the ASCII letters' cases among themselves; in a UTF-8
// locale, the same holds of a text without any of the characters that fold onto ASCII.
struct CaseFolds {
  std::array<bool, 128> alone{};
  std::vector<std::string> ontoAscii;  // in UTF-8, of a UTF-8 locale; else unknown, and unused
};

CaseFolds findCaseFolds(Encoding encoding, bool asciiTextOnly = false) {
  CaseFolds folds;
  std::array<bool, 128>& alone = folds.alone;
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
  const unsigned end = asciiTextOnly ? 128 : bytes ? 0x100 : 0x20000;
  for (unsigned c = 128; c < end; ++c) {
    if (!bytes && c == 0x3400) c = 0xA500;  // CJK ideographs and Yi: no case
    if (!bytes && c == 0xAC00) c = 0xF900;  // Hangul, surrogates and private use: no case
    spoil(upper(c));
    spoil(lower(c));
    if (!bytes && (upper(c) < 128 || lower(c) < 128)) {
      folds.ontoAscii.push_back(detail::encodeUtf8(static_cast<char32_t>(c)));
    }
  }
  return folds;
}

// The same, remembered for each locale: asking a multibyte locale about its characters takes a
// millisecond or so.
CaseFolds caseFolds(Encoding encoding) {
  if (encoding == Encoding::SingleByte) return findCaseFolds(encoding);
#ifdef NL_LOCALE_NAME
  static std::mutex mutex;
  static std::map<std::string, CaseFolds, std::less<>> known;
  const std::string_view name = nl_langinfo(NL_LOCALE_NAME(LC_CTYPE));
  const std::scoped_lock lock(mutex);
  if (const auto found = known.find(name); found != known.end()) return found->second;
  return known.emplace(name, findCaseFolds(encoding)).first->second;
#else
  return findCaseFolds(encoding);
#endif
}

// ---------------------------------------------------------------------------------------------
// Runs of byte sets

// How often each byte occurs in English prose, in parts per ten thousand, roughly; bytes not
// named are rare. Only for choosing what to search for: a wrong figure costs time, never a match.
constexpr std::array<std::uint16_t, 256> byteFrequency = [] {
  std::array<std::uint16_t, 256> frequency{};
  frequency.fill(1);
  const auto set = [&](const char* bytes, std::uint16_t weight) {
    for (; *bytes != '\0'; ++bytes) frequency[static_cast<unsigned char>(*bytes)] = weight;
  };
  set(" ", 1700);
  set("e", 950);
  set("t", 700);
  set("ao", 610);
  set("ins", 520);
  set("hr", 465);
  set("dl", 320);
  set("\nucm", 200);
  set("wfgyp", 155);
  set("b", 110);
  set(".,", 90);
  set("vk", 65);
  set("TAI'\"-", 25);
  set("SWHBMCLDNOPRFGEY", 12);
  set("0123456789xjqzUVKJQXZ!?:;()\t", 6);
  set("/*&#@$%+=<>[]_`{|}~^\\", 3);
  return frequency;
}();

// A set of byte values, with the sum of their frequencies.
class ByteSet {
 public:
  static ByteSet of(unsigned char c) {
    ByteSet set;
    set.add(c);
    return set;
  }
  void add(unsigned c) {
    if (has(static_cast<unsigned char>(c))) return;
    words_[c >> 6] |= std::uint64_t{1} << (c & 63);
    weight_ += byteFrequency[c];
  }
  [[nodiscard]] bool has(unsigned char c) const noexcept {
    return ((words_[c >> 6] >> (c & 63)) & 1) != 0;
  }
  ByteSet& operator|=(const ByteSet& other) {
    for (unsigned i = 0; i < words_.size(); ++i) {
      for (std::uint64_t added = other.words_[i] & ~words_[i]; added != 0; added &= added - 1) {
        add(i * 64 + static_cast<unsigned>(std::countr_zero(added)));
      }
    }
    return *this;
  }
  bool operator==(const ByteSet&) const = default;
  [[nodiscard]] bool empty() const { return *this == ByteSet{}; }
  [[nodiscard]] bool asciiOnly() const { return words_[2] == 0 && words_[3] == 0; }
  [[nodiscard]] unsigned char lowest() const {
    for (unsigned i = 0; i < words_.size(); ++i) {
      if (words_[i] != 0)
        return static_cast<unsigned char>(i * 64 +
                                          static_cast<unsigned>(std::countr_zero(words_[i])));
    }
    return 0;
  }
  // How often a byte of the set occurs in text, in parts per ten thousand (see byteFrequency).
  [[nodiscard]] unsigned weight() const noexcept { return weight_; }

 private:
  std::array<std::uint64_t, 4> words_{};
  unsigned weight_ = 0;
};

// A run of bytes, each from its own set: what a stretch of a match is known to hold. Every set
// is either of ASCII bytes only or a single byte of a UTF-8 sequence, so that the run's shape
// (where its characters begin and end) is that of the text of its lowest members.
using Run = std::vector<ByteSet>;

Run runOf(std::string_view bytes) {
  Run run;
  run.reserve(bytes.size());
  for (const char c : bytes) run.push_back(ByteSet::of(static_cast<unsigned char>(c)));
  return run;
}

// The text of each set's lowest member: a run's shape (see Run).
std::string shapeOf(const Run& run) {
  std::string shape;
  shape.reserve(run.size());
  for (const ByteSet& set : run) shape.push_back(static_cast<char>(set.lowest()));
  return shape;
}

// How much finding a byte of `set` at a place says, in bits.
double surprise(const ByteSet& set) { return std::log2(10000.0 / std::max(set.weight(), 1U)); }

double surprise(const Run& run) {
  double bits = 0;
  for (const ByteSet& set : run) bits += surprise(set);
  return bits;
}

// ---------------------------------------------------------------------------------------------
// What every match of a part of an expression holds

// Facts about the text of every match of a part of an expression. An exact part matches only
// texts that `prefix` describes whole (suffix and inner are then unused), and a precise one
// every such text too, wherever it stands; otherwise every match begins with `prefix`, ends with
// `suffix` and holds `inner` somewhere (each possibly empty, which says nothing).
struct Facts {
  bool exact = true;  // the default: the part that matches only the empty text
  Run prefix;
  Run suffix;
  Run inner;
  bool precise = true;
  double innerBits = 0;  // surprise(inner), kept so that each append costs the same

  static Facts unknown() { return {false, {}, {}, {}, false, 0}; }
  static Facts run(Run run) { return {true, std::move(run), {}, {}, true, 0}; }
  // A part that matches the empty text only at some places, such as an anchor.
  static Facts emptyAtSomePlaces() { return {true, {}, {}, {}, false, 0}; }

  [[nodiscard]] const Run& ending() const { return exact ? prefix : suffix; }
  // The run that rules out most texts.
  [[nodiscard]] const Run& best() const {
    if (exact) return prefix;
    const Run& ends = surprise(prefix) >= surprise(suffix) ? prefix : suffix;
    return surprise(ends) >= innerBits ? ends : inner;
  }

  // Keeps `candidate` as the inner run if it rules out more.
  void keepInner(Run&& candidate, double bits) {
    if (bits <= innerBits) return;
    inner = std::move(candidate);
    innerBits = bits;
  }
};

// Runs are kept no longer than this (what a long literal says beyond it rarely matters), so that
// choosing among them costs little whatever the expression.
constexpr std::size_t longestRun = 1024;

// Whole characters of the first (or last) `longestRun` places of `run`, once it is twice as
// long: cut seldom, so that appending one place at a time stays linear.
Run boundedFront(Run run);
Run boundedBack(Run run);

// Cuts every run of `facts` to at most twice `longestRun`: a part of an exact run is still held,
// at the start or the end.
void bound(Facts& facts) {
  if (facts.exact) {
    if (facts.prefix.size() <= 2 * longestRun) return;
    facts.exact = false;
    facts.precise = false;
    facts.suffix = boundedBack(facts.prefix);
  }
  facts.prefix = boundedFront(std::move(facts.prefix));
  facts.suffix = boundedBack(std::move(facts.suffix));
  if (facts.inner.size() > 2 * longestRun) {
    facts.inner = boundedFront(std::move(facts.inner));
    facts.innerBits = surprise(facts.inner);
  }
}

// `a` followed by `b`, into `a`; linear in what moves from a suffix into the middle, so that a
// long expression is read in linear time.
void append(Facts& a, Facts&& b) {
  if (a.exact && b.exact) {
    a.prefix.insert(a.prefix.end(), b.prefix.begin(), b.prefix.end());
    a.precise = a.precise && b.precise;
  } else if (a.exact) {
    b.prefix.insert(b.prefix.begin(), a.prefix.begin(), a.prefix.end());
    a = std::move(b);
  } else if (b.exact) {
    a.suffix.insert(a.suffix.end(), b.prefix.begin(), b.prefix.end());
  } else {
    Run bridge = std::move(a.suffix);
    bridge.insert(bridge.end(), b.prefix.begin(), b.prefix.end());
    bridge = boundedFront(std::move(bridge));
    const double bridgeBits = surprise(bridge);
    a.keepInner(std::move(bridge), bridgeBits);
    a.keepInner(std::move(b.inner), b.innerBits);
    a.suffix = std::move(b.suffix);
  }
  bound(a);
}

// The whole characters at the front (or back) of `run`, which may end (or begin) inside a
// UTF-8 sequence after a common prefix (or suffix) was cut.
Run wholeCharactersAtFront(Run run) {
  const std::string shape = shapeOf(run);
  std::size_t end = shape.size();
  std::size_t start = end;
  while (start > 0 && (static_cast<unsigned char>(shape[start - 1]) & 0xC0) == 0x80) --start;
  if (start > 0 && static_cast<unsigned char>(shape[start - 1]) >= 0xC0) {
    const auto lead = static_cast<unsigned char>(shape[start - 1]);
    const std::size_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (end - (start - 1) < length) end = start - 1;
  }
  run.resize(end);
  return run;
}

Run wholeCharactersAtBack(Run run) {
  std::size_t start = 0;
  while (start < run.size() && (run[start].lowest() & 0xC0) == 0x80) ++start;
  run.erase(run.begin(), run.begin() + static_cast<std::ptrdiff_t>(start));
  return run;
}

Run boundedFront(Run run) {
  if (run.size() <= 2 * longestRun) return run;
  run.resize(longestRun);
  return wholeCharactersAtFront(std::move(run));
}

Run boundedBack(Run run) {
  if (run.size() <= 2 * longestRun) return run;
  run.erase(run.begin(), run.end() - static_cast<std::ptrdiff_t>(longestRun));
  return wholeCharactersAtBack(std::move(run));
}

// Whether a place that holds a byte of `a` in one branch and of `b` in the other may be said to
// hold one of either: for ASCII, yes; a byte of a longer character must be the same in both, or
// the run would no longer have one shape.
bool joinable(const ByteSet& a, const ByteSet& b) {
  return a == b || (a.asciiOnly() && b.asciiOnly());
}

// Either `a` or `b`.
Facts alternate(Facts a, Facts b) {
  if (a.exact && b.exact && a.prefix.size() == b.prefix.size() &&
      std::equal(a.prefix.begin(), a.prefix.end(), b.prefix.begin(), joinable)) {
    // Precise still when the two differ at one place at most: "a(b|c)d" is "a[bc]d", but
    // "(ab|cd)" is not "[ac][bd]".
    std::size_t differences = 0;
    for (std::size_t i = 0; i < a.prefix.size(); ++i) {
      differences += a.prefix[i] != b.prefix[i];
      a.prefix[i] |= b.prefix[i];
    }
    a.precise = a.precise && b.precise && differences <= 1;
    return a;
  }
  Facts either = Facts::unknown();
  for (std::size_t i = 0;
       i < a.prefix.size() && i < b.prefix.size() && joinable(a.prefix[i], b.prefix[i]); ++i) {
    either.prefix.push_back(a.prefix[i]);
    either.prefix.back() |= b.prefix[i];
  }
  either.prefix = wholeCharactersAtFront(std::move(either.prefix));
  const Run& endA = a.ending();
  const Run& endB = b.ending();
  std::size_t back = 0;
  while (back < endA.size() && back < endB.size() &&
         joinable(endA[endA.size() - 1 - back], endB[endB.size() - 1 - back])) {
    ++back;
  }
  for (std::size_t i = back; i > 0; --i) {
    either.suffix.push_back(endA[endA.size() - i]);
    either.suffix.back() |= endB[endB.size() - i];
  }
  either.suffix = wholeCharactersAtBack(std::move(either.suffix));
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
  Run repeated;
  for (std::size_t i = 0; i < copies; ++i) {
    repeated.insert(repeated.end(), part.prefix.begin(), part.prefix.end());
  }
  if (most == least && copies == least) {
    return {true, std::move(repeated), {}, {}, part.precise, 0};
  }
  return {false, repeated, repeated, {}, false, 0};
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
      : text_(expression),
        encoding_(encoding),
        caseMode_(caseMode),
        foldsAlone_(foldsAlone),
        rangesInCodeOrder_(rangesInCodeOrder()) {}

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
  // Bracket expressions beyond this many are some unknown text: each costs a regcomp and a
  // regexec for every byte.
  static constexpr int mostBracketsAsked = 32;

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
        return {bracket()};
      case '.':
        ++at_;
        return {Facts::unknown()};
      case '^':
      case '$':
        ++at_;
        return {Facts::emptyAtSomePlaces(), false};
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
    if (isOneOf(c, "<>bB`'")) return {Facts::emptyAtSomePlaces(), false};  // GNU anchors
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
    if (caseMode_ == CaseMode::Sensitive) return Facts::run(runOf(bytes));
    const auto c = static_cast<unsigned char>(bytes[0]);
    if (bytes.size() > 1 || c >= 0x80 || !foldsAlone_[c]) return Facts::unknown();
    ByteSet cases = ByteSet::of(c);
    cases.add(asciiLower(c));
    cases.add(asciiUpper(c));
    return Facts::run({cases});
  }

  // A bracket expression: one byte of a set when it matches ASCII characters only, else some
  // unknown text.
  Facts bracket() {
    const std::size_t start = at_;
    skipBracketExpression();
    if (const std::optional<ByteSet> set = asciiMembers(text_.substr(start, at_ - start))) {
      return Facts::run({*set});
    }
    return Facts::unknown();
  }

  // The bytes that `bracket` matches, when it is known to match ASCII characters only: the C
  // library is asked about each byte in turn, so that what a class, a range or a case holds in
  // this locale is its word, not a guess. A multibyte locale cannot be asked about all of its
  // characters, so there a bracket must also be seen to hold none beyond ASCII: not negated, no
  // byte beyond ASCII, no equivalence class or collating element, no class but the digits (the
  // only ones POSIX keeps to ASCII), and ranges only where they run in code point order.
  std::optional<ByteSet> asciiMembers(std::string_view bracket) {
    if (encoding_ == Encoding::OtherMultibyte || bracketsAsked_ == mostBracketsAsked) {
      return std::nullopt;
    }
    if (encoding_ == Encoding::Utf8 && !holdsOnlyAscii(bracket)) return std::nullopt;
    ++bracketsAsked_;
    regex_t regex{};
    const int flags =
        REG_EXTENDED | REG_NOSUB | (caseMode_ == CaseMode::Insensitive ? REG_ICASE : 0);
    if (regcomp(&regex, std::string(bracket).c_str(), flags) != 0) return std::nullopt;
    ByteSet members;
    const unsigned end = encoding_ == Encoding::SingleByte ? 256 : 128;
    for (unsigned c = 0; c < end; ++c) {
      const char text[] = {static_cast<char>(c), '\0'};
      regmatch_t range{};
      range.rm_so = 0;
      range.rm_eo = 1;
      if (regexec(&regex, text, 1, &range, REG_STARTEND) == 0) members.add(c);
    }
    regfree(&regex);
    if (members.empty() || !members.asciiOnly()) return std::nullopt;
    if (caseMode_ == CaseMode::Insensitive) {
      for (unsigned c = 0; c < 128; ++c) {
        if (members.has(static_cast<unsigned char>(c)) && !foldsAlone_[c]) return std::nullopt;
      }
    }
    return members;
  }

  // Whether the bracket expression `bracket` holds nothing that may match a character beyond
  // ASCII in a UTF-8 locale.
  [[nodiscard]] bool holdsOnlyAscii(std::string_view bracket) const {
    const std::string_view inside = bracket.substr(1, bracket.size() - 2);
    if (inside.empty() || inside[0] == '^') return false;
    for (std::size_t i = 0; i < inside.size(); ++i) {
      const char c = inside[i];
      if (static_cast<unsigned char>(c) >= 0x80) return false;
      if (c == '[' && i + 1 < inside.size() && isOneOf(inside[i + 1], ":.=")) {
        if (inside[i + 1] != ':') return false;
        const std::size_t end = inside.find(":]", i + 2);
        if (end == std::string_view::npos) return false;
        const std::string_view name = inside.substr(i + 2, end - (i + 2));
        if (name != "digit" && name != "xdigit") return false;
        i = end + 1;
      } else if (c == '-' && i > 0 && i + 1 < inside.size() && !rangesInCodeOrder_) {
        return false;  // a range, which the collation orders
      }
    }
    return true;
  }

  // Whether ranges of the current locale run in code point order: its collation is C's.
  static bool rangesInCodeOrder() {
#ifdef NL_LOCALE_NAME
    const std::string_view name = nl_langinfo(NL_LOCALE_NAME(LC_COLLATE));
    return name == "C" || name == "POSIX" || name == "C.UTF-8" || name == "C.utf8";
#else
    return false;
#endif
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
  bool rangesInCodeOrder_;
  int bracketsAsked_ = 0;
};

// The run to search for: the one of those every match holds that rules out most, in the current
// locale. None when there is none, or when the decoded text could hold it where the bytes do not
// (a run that is not whole UTF-8 characters, or that holds U+FFFD, which stands for invalid
// bytes).
//
// Decisive when a text holds a match wherever it holds the run: the expression is the run and
// nothing else, and the locale reads every byte of the run where it finds it (one whose
// multibyte characters may end in ASCII bytes might not).
//
// Of a text of ASCII characters only (`asciiTextOnly`), more may be known: ignoring case, no
// character beyond ASCII can match an ASCII letter there.
struct RequiredRun {
  Run run;
  bool decisive = false;
  bool ascii = false;  // every set of the run is of ASCII bytes, which a text keeps as decoded
};

std::optional<RequiredRun> requiredRun(std::string_view expression, CaseMode caseMode,
                                       bool asciiTextOnly = false) {
  const Encoding encoding = currentEncoding();
  std::array<bool, 128> foldsAlone{};
  if (caseMode == CaseMode::Insensitive) {
    foldsAlone = (asciiTextOnly ? findCaseFolds(encoding, true) : caseFolds(encoding)).alone;
  }
  const std::optional<Facts> facts =
      ExpressionReader(expression, encoding, caseMode, foldsAlone).read();
  if (!facts) return std::nullopt;
  Run run = facts->best();
  const std::string shape = shapeOf(run);
  if (run.empty() || detail::findInvalidUtf8(shape) ||
      shape.find("\xEF\xBF\xBD") != std::string::npos) {
    return std::nullopt;
  }
  const bool decisive = facts->exact && facts->precise && encoding != Encoding::OtherMultibyte;
  const bool ascii =
      std::all_of(run.begin(), run.end(), [](const ByteSet& set) { return set.asciiOnly(); });
  return RequiredRun{std::move(run), decisive, ascii};
}

// ---------------------------------------------------------------------------------------------
// Searching for the run

// A search for a run. Sixteen places at a time are tested for the run's two rarest sets (each
// a few byte ranges, tested with a subtraction and a saturating comparison), and only the
// places that pass both are compared whole: in text, few do. On fortunes, a few hundred bytes
// long, this is twice as fast as memmem, whose setup does not pay for itself on short texts.
class RunSearcher {
 public:
  explicit RunSearcher(Run run) : run_(std::move(run)) {
#if defined(__SSE2__)
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < run_.size(); ++i) {
      if (rangesOf(run_[i]).size() <= Lane::mostRanges) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return surprise(run_[a]) > surprise(run_[b]);
    });
    if (!order.empty()) first_ = Lane(run_[order[0]], order[0]);
    if (order.size() > 1) second_ = Lane(run_[order[1]], order[1]);
#endif
  }

  [[nodiscard]] std::size_t length() const noexcept { return run_.size(); }

  // Where the run first occurs in `text`; npos when it does not.
  [[nodiscard]] std::size_t find(std::string_view text) const noexcept {
    const std::size_t size = run_.size();
    if (text.size() < size) return std::string_view::npos;
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t places = text.size() - size + 1;
    std::size_t at = 0;
#if defined(__SSE2__)
    if (first_) {
      for (; at + 16 <= places; at += 16) {
        unsigned mask = first_->test(data + at);
        if (mask != 0 && second_) mask &= second_->test(data + at);
        for (; mask != 0; mask &= mask - 1) {
          const std::size_t place = at + static_cast<unsigned>(__builtin_ctz(mask));
          if (holdsAt(data + place)) return place;
        }
      }
    }
#endif
    for (; at < places; ++at) {
      if (holdsAt(data + at)) return at;
    }
    return std::string_view::npos;
  }

 private:
  [[nodiscard]] bool holdsAt(const unsigned char* place) const noexcept {
    for (std::size_t i = 0; i < run_.size(); ++i) {
      if (!run_[i].has(place[i])) return false;
    }
    return true;
  }

  // The ranges of consecutive bytes that make up `set`, as first byte and length less one.
  static std::vector<std::pair<unsigned, unsigned>> rangesOf(const ByteSet& set) {
    std::vector<std::pair<unsigned, unsigned>> ranges;
    for (unsigned c = 0; c < 256; ++c) {
      if (!set.has(static_cast<unsigned char>(c))) continue;
      if (!ranges.empty() && ranges.back().first + ranges.back().second + 1 == c) {
        ++ranges.back().second;
      } else {
        ranges.emplace_back(c, 0);
      }
    }
    return ranges;
  }

#if defined(__SSE2__)
  // One set of the run, at its place in the run, tested at sixteen places at once.
  class Lane {
   public:
    static constexpr std::size_t mostRanges = 8;

    Lane(const ByteSet& set, std::size_t offset) : offset_(offset) {
      for (const auto& [low, span] : rangesOf(set)) {
        low_[count_] = _mm_set1_epi8(static_cast<char>(low));
        span_[count_] = _mm_set1_epi8(static_cast<char>(span));
        ++count_;
        single_ = span == 0;
      }
    }

    static unsigned mask(__m128i in) noexcept {
      return static_cast<unsigned>(_mm_movemask_epi8(in));
    }

    // One bit for each of the sixteen places from `place` on, set where the byte at this set's
    // offset from there is in the set.
    [[nodiscard]] unsigned test(const unsigned char* place) const noexcept {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(place + offset_));
      const __m128i zero = _mm_setzero_si128();
      __m128i in = zero;
      if (count_ == 1 && single_) return mask(_mm_cmpeq_epi8(bytes, low_[0]));
      for (std::size_t i = 0; i < count_; ++i) {
        // Bytes below the range wrap around to above its span.
        const __m128i above = _mm_subs_epu8(_mm_sub_epi8(bytes, low_[i]), span_[i]);
        in = _mm_or_si128(in, _mm_cmpeq_epi8(above, zero));
      }
      return mask(in);
    }

   private:
    __m128i low_[mostRanges]{};
    __m128i span_[mostRanges]{};
    std::size_t count_ = 0;
    bool single_ = false;  // the one range is one byte
    std::size_t offset_;
  };

  std::optional<Lane> first_;
  std::optional<Lane> second_;
#endif
  Run run_;
};

// ---------------------------------------------------------------------------------------------
// Pattern

// Whether every byte of `text` is an ASCII character.
bool isAscii(std::string_view text) noexcept {
  unsigned char any = 0;
  for (const char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

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
    if (std::optional<RequiredRun> required = requiredRun(expression, options.caseMode)) {
      searcher.emplace(std::move(required->run));
      decisive = required->decisive;
      asciiRun = required->ascii;
    }
    // Ignoring case, letters that a character beyond ASCII folds onto (as "\xC5\xBF" onto "s")
    // say nothing of a text; most fortunes hold none, and of those they say what they do.
    const Encoding encoding = currentEncoding();
    if (insensitive && !decisive && encoding != Encoding::OtherMultibyte) {
      if (std::optional<RequiredRun> required =
              requiredRun(expression, options.caseMode, /*asciiTextOnly=*/true)) {
        asciiSearcher.emplace(std::move(required->run));
        asciiDecisive = required->decisive;
        std::vector<std::string> onto = caseFolds(encoding).ontoAscii;
        // What replaces invalid bytes must fold onto none, as in every locale known.
        if (encoding == Encoding::Utf8 &&
            std::find(onto.begin(), onto.end(), "\xEF\xBF\xBD") == onto.end()) {
          foldsOntoAscii = std::move(onto);
        }
      }
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
  std::optional<RunSearcher> searcher;  // none without a run
  bool decisive = false;                // whether finding the run is a match
  bool asciiRun = false;                // whether it is of ASCII bytes only
  // The same for texts of ASCII characters only, when it tells more (ignoring case).
  std::optional<RunSearcher> asciiSearcher;
  bool asciiDecisive = false;
  // In a UTF-8 locale, the characters that fold onto ASCII letters: a text without them is
  // judged as one of ASCII characters only.
  std::optional<std::vector<std::string>> foldsOntoAscii;

  // Whether `text` (with `ascii` saying whether it is all ASCII) may be judged by asciiSearcher:
  // as decoded, it holds no character beyond ASCII that folds onto ASCII, since such a
  // character there is one of `text`'s own (what replaces invalid bytes folds onto none).
  [[nodiscard]] bool judgedAsAscii(std::string_view text, bool ascii) const noexcept {
    if (ascii) return true;
    if (!foldsOntoAscii) return false;
    return std::none_of(foldsOntoAscii->begin(), foldsOntoAscii->end(), [&](const std::string& c) {
      return text.find(c) != std::string_view::npos;
    });
  }
};

Pattern::Pattern(std::string_view expression, PatternOptions options)
    : state_(std::make_unique<State>(expression, options)) {}

Pattern::~Pattern() = default;
Pattern::Pattern(Pattern&& other) noexcept = default;
Pattern& Pattern::operator=(Pattern&& other) noexcept = default;

const std::string& Pattern::expression() const noexcept { return state_->expression; }

PatternOptions Pattern::options() const noexcept { return state_->options; }

bool Pattern::mayMatch(std::string_view bytes) const noexcept {
  return !state_->searcher || state_->searcher->find(bytes) != std::string_view::npos;
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
  const State& state = *state_;
  // A run of ASCII bytes is where it was in the text as decoded, whatever else was replaced, so
  // the bytes need not be checked for one that decides.
  if (state.decisive && state.asciiRun) return true;
  if (state.asciiSearcher && state.judgedAsAscii(bytes, isAscii(bytes))) {
    if (state.asciiSearcher->find(bytes) == std::string_view::npos) return false;
    if (state.asciiDecisive) return true;
  }
  if (!detail::findInvalidUtf8(bytes)) return state.decisive || state.execute(bytes);
  return state.execute(detail::decodeUtf8Leniently(bytes));
}

}  // namespace tallowmere
