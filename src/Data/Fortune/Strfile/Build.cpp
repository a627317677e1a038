// Building the strfile data of a fortune text, as Debian's strfile does.
//
// Where strfile's behaviour is a fault, the builder does the sound thing instead: it reads
// whole lines, however long (strfile reads at most 255 bytes at a time and so takes a line of
// 255 bytes or more that ends in the delimiter for content followed by a delimiter line);
// with the random flag it keeps the table in text order (strfile's shuffle also moves the end
// offset among the fortunes, losing one fortune and adding an empty one); and when ordering it
// accepts fortunes whose first line holds no letter or digit (strfile crashes on them), going
// on to the next lines for the key's first letter or digit.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune/Strfile.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/Strfile/Text.hpp"

namespace tallowmere {
namespace {

constexpr std::size_t kChunk = std::size_t{64} * 1024;
constexpr std::uint64_t kMaxTextSize = 0xFFFFFFFF;  // the largest 32-bit offset
constexpr std::uint32_t kBuilderFlags =
    StrfileHeader::random | StrfileHeader::ordered | StrfileHeader::rotated;

[[noreturn]] void fail(const std::string& what) {
  throw IOError::userError("buildStrfile: " + what);
}

bool isAsciiAlphanumeric(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A fortune found in the text: its bytes, without the delimiter line that ends it.
struct Fortune {
  std::uint32_t start;
  std::uint32_t length;
};

// Reads the sort key of one fortune, one unit at a time. The key starts at the fortune's
// first ASCII letter or digit and ends at the first later line that starts with the
// delimiter, or at the fortune's end.
class KeyCursor {
 public:
  struct Unit {
    int value;  // a byte, folded; at the end 0, or -1 at the end of the text
    bool end;
  };

  KeyCursor(detail::StrfileText& text, const Fortune& fortune, std::uint64_t textSize,
            const StrfileOptions& options)
      : text_(text),
        position_(fortune.start),
        end_(std::uint64_t{fortune.start} + fortune.length),
        endOfText_(end_ == textSize),
        delimiter_(static_cast<unsigned char>(options.delimiter)),
        ignoreCase_(options.ignoreCase) {
    while (position_ < end_) {
      const unsigned char c = peek();
      if (startsDelimitedLine(c) || isAsciiAlphanumeric(c)) break;
      advance(c);
    }
  }

  Unit next() {
    if (position_ == end_) return {endOfText_ ? -1 : 0, true};
    const unsigned char c = peek();
    if (startsDelimitedLine(c)) return {0, true};
    advance(c);
    return {ignoreCase_ && c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c, false};
  }

 private:
  [[nodiscard]] bool startsDelimitedLine(unsigned char c) const {
    return afterNewline_ && c == delimiter_;
  }

  unsigned char peek() {
    if (at_ == chunk_.size()) {
      // A short first read: most keys are decided within their first few bytes.
      const std::size_t want = chunk_.empty() ? 64 : 4096;
      chunk_ = text_.readAt(
          position_, static_cast<std::size_t>(std::min<std::uint64_t>(want, end_ - position_)),
          buffer_);
      at_ = 0;
      if (chunk_.empty()) fail("the text changed while being read");
    }
    return static_cast<unsigned char>(chunk_[at_]);
  }

  void advance(unsigned char c) {
    afterNewline_ = c == '\n';
    ++position_;
    ++at_;
  }

  detail::StrfileText& text_;
  std::uint64_t position_;
  std::uint64_t end_;
  bool endOfText_;
  unsigned char delimiter_;
  bool ignoreCase_;
  bool afterNewline_ = false;  // a fortune's first byte never ends its key
  std::string buffer_;
  std::string_view chunk_;
  std::size_t at_ = 0;
};

// Compares two keys unit by unit: the first difference decides; an end that meets an equal
// unit makes the keys equal.
int compareUnits(KeyCursor::Unit a, KeyCursor::Unit b, bool& decided) {
  decided = a.value != b.value || a.end || b.end;
  return a.value < b.value ? -1 : a.value > b.value ? 1 : 0;
}

// Sorts fortunes by key, ties in text order. Each fortune keeps the first bytes of its key in
// memory; only keys that agree on all of them are read again from the text.
class KeyOrder {
 public:
  KeyOrder(detail::StrfileText& text, std::uint64_t textSize, const StrfileOptions& options)
      : text_(text), textSize_(textSize), options_(options) {}

  void sort(std::vector<Fortune>& fortunes) {
    std::vector<Entry> entries;
    entries.reserve(fortunes.size());
    for (const Fortune& fortune : fortunes) entries.push_back(entryOf(fortune));
    std::stable_sort(entries.begin(), entries.end(),
                     [&](const Entry& a, const Entry& b) { return compare(a, b) < 0; });
    for (std::size_t i = 0; i < entries.size(); ++i) fortunes[i] = entries[i].fortune;
  }

 private:
  static constexpr std::size_t kPrefix = 32;
  static constexpr int kOpen = 1;  // the key goes on past the prefix

  struct Entry {
    Fortune fortune;
    std::uint8_t length;  // bytes in prefix
    std::int8_t ending;   // the end unit's value when the key ends after them, else kOpen
    std::array<unsigned char, kPrefix> prefix;
  };

  Entry entryOf(const Fortune& fortune) {
    Entry entry{fortune, 0, kOpen, {}};
    KeyCursor cursor(text_, fortune, textSize_, options_);
    while (entry.length < kPrefix) {
      const KeyCursor::Unit unit = cursor.next();
      if (unit.end) {
        entry.ending = static_cast<std::int8_t>(unit.value);
        break;
      }
      entry.prefix[entry.length++] = static_cast<unsigned char>(unit.value);
    }
    return entry;
  }

  int compare(const Entry& a, const Entry& b) {
    for (std::size_t i = 0;; ++i) {
      if ((i == a.length && a.ending == kOpen) || (i == b.length && b.ending == kOpen)) {
        return compareFromText(a.fortune, b.fortune);
      }
      const KeyCursor::Unit ua =
          i < a.length ? KeyCursor::Unit{a.prefix[i], false} : KeyCursor::Unit{a.ending, true};
      const KeyCursor::Unit ub =
          i < b.length ? KeyCursor::Unit{b.prefix[i], false} : KeyCursor::Unit{b.ending, true};
      bool decided = false;
      const int order = compareUnits(ua, ub, decided);
      if (decided) return order;
    }
  }

  int compareFromText(const Fortune& a, const Fortune& b) {
    KeyCursor ca(text_, a, textSize_, options_);
    KeyCursor cb(text_, b, textSize_, options_);
    for (;;) {
      bool decided = false;
      const int order = compareUnits(ca.next(), cb.next(), decided);
      if (decided) return order;
    }
  }

  detail::StrfileText& text_;
  std::uint64_t textSize_;
  const StrfileOptions& options_;
};

StrfileData build(detail::StrfileText& text, const StrfileOptions& options) {
  if ((options.flags & ~kBuilderFlags) != 0) {
    fail("flags " + std::to_string(options.flags & ~kBuilderFlags) +
         " are not ones strfile sets (random 1, ordered 2, rotated 4)");
  }
  StrfileData data;
  StrfileHeader& header = data.header;
  header.delimiter = options.delimiter;
  header.flags = options.flags;
  if ((header.flags & StrfileHeader::ordered) != 0) header.flags &= ~StrfileHeader::random;

  // offsets.back() is where the fortune being read starts; an empty fortune is not recorded,
  // the next one taking its place.
  std::vector<Fortune> fortunes;
  const bool ordered = (header.flags & StrfileHeader::ordered) != 0;
  std::uint64_t start = 0;
  const auto finishFortune = [&](std::uint64_t end, std::uint64_t next) {
    if (end > start) {
      const auto length = static_cast<std::uint32_t>(end - start);
      header.longestLength = std::max(header.longestLength, length);
      header.shortestLength = std::min(header.shortestLength, length);
      if (ordered) fortunes.push_back({static_cast<std::uint32_t>(start), length});
      data.offsets.push_back(static_cast<std::uint32_t>(next));
    } else {
      data.offsets.back() = static_cast<std::uint32_t>(next);
    }
    start = next;
  };

  detail::DelimiterLines lines(options.delimiter, 0);
  std::uint64_t size = 0;
  std::string buffer;
  for (;;) {
    const std::string_view chunk = text.readAt(size, kChunk, buffer);
    if (chunk.empty()) break;
    if (chunk.size() > kMaxTextSize - size) {
      fail("the text is larger than " + std::to_string(kMaxTextSize) +
           " bytes, the most that 32-bit offsets reach");
    }
    lines.feed(chunk, [&](std::uint64_t line) {
      finishFortune(line, line + 2);
      return true;
    });
    size += chunk.size();
  }
  finishFortune(size, size);
  header.numStrings = static_cast<std::uint32_t>(data.offsets.size() - 1);

  if (ordered) {
    KeyOrder(text, size, options).sort(fortunes);
    for (std::size_t i = 0; i < fortunes.size(); ++i) data.offsets[i] = fortunes[i].start;
  }
  return data;
}

}  // namespace

StrfileData buildStrfile(std::string_view text, const StrfileOptions& options) {
  detail::MemoryStrfileText source(text);
  return build(source, options);
}

StrfileData buildStrfile(File& text, const StrfileOptions& options) {
  detail::FileStrfileText source(text);
  return build(source, options);
}

}  // namespace tallowmere
