// The plain reference for the index rebuild: the reader and the step rules followed one
// character at a time, with a decoder of its own, over a text held in memory and handed to the
// reader in chunks of `chunkSize` bytes. Any faster scan must give exactly these entries.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <tallowmere/Data/Fortune/Index/Format.hpp>

namespace tallowmere::test {

struct RefChar {
  std::int64_t offset;
  char32_t value;
  std::int64_t length;
  bool invalid;
};

// One character from the front of `b` (not empty): a valid sequence, or U+FFFD over a lone
// byte that cannot begin a sequence, over a lead byte and the continuation bytes present when
// some are missing, or over a complete sequence that is overlong, a surrogate or too large.
inline RefChar referenceDecode(std::string_view b) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(b[i]); };
  const unsigned lead = byte(0);
  if (lead <= 0x7F) return {0, lead, 1, false};
  std::size_t need = lead >= 0xC0 && lead <= 0xDF   ? 1
                     : lead >= 0xE0 && lead <= 0xEF ? 2
                     : lead >= 0xF0 && lead <= 0xF7 ? 3
                                                    : 0;
  if (need == 0) return {0, 0xFFFD, 1, true};
  std::size_t have = 0;
  while (have < need && have + 1 < b.size() && byte(have + 1) >= 0x80 && byte(have + 1) <= 0xBF) {
    ++have;
  }
  if (have < need) return {0, 0xFFFD, static_cast<std::int64_t>(1 + have), true};
  char32_t value = lead & (need == 1 ? 0x1F : need == 2 ? 0x0F : 0x07);
  for (std::size_t i = 1; i <= need; ++i) value = value * 64 + (byte(i) & 0x3F);
  const char32_t least = need == 1 ? 0x80 : need == 2 ? 0x800 : 0x10000;
  const bool bad = value < least || (value >= 0xD800 && value < 0xE000) || value > 0x10FFFF;
  return {0, bad ? char32_t{0xFFFD} : value, static_cast<std::int64_t>(need + 1), bad};
}

inline std::vector<IndexEntry> referenceScan(std::string_view text, char32_t delimiter,
                                             std::size_t chunkSize = 4096) {
  std::size_t fileAt = 0;  // bytes of the text handed to the reader so far
  auto nextChunk = [&] {
    std::string_view chunk = text.substr(fileAt, std::min(chunkSize, text.size() - fileAt));
    fileAt += chunk.size();
    return std::string(chunk);
  };
  // The bytes not yet decoded are buffer[front, end).
  std::string buffer = nextChunk();
  std::size_t front = 0;
  std::int64_t position = 0;
  auto reader = [&]() -> std::optional<RefChar> {
    for (;;) {
      const std::string_view rest = std::string_view(buffer).substr(front);
      if (rest.empty()) return std::nullopt;
      RefChar c = referenceDecode(rest);
      if (c.invalid && c.length == static_cast<std::int64_t>(rest.size())) {
        std::string more = nextChunk();
        if (more.empty()) {
          buffer.clear();
          front = 0;
          return std::nullopt;
        }
        buffer = std::string(rest) + more;
        front = 0;
        continue;
      }
      front += static_cast<std::size_t>(c.length);
      if (front == buffer.size()) {
        buffer = nextChunk();
        front = 0;
      }
      c.offset = position;
      position += c.length;
      return c;
    }
  };

  std::vector<IndexEntry> entries;
  std::int64_t start = 0, bytes = 0, chars = 0, lines = 0;
  std::optional<RefChar> previous;
  auto countChar = [&](const RefChar& c) {
    bytes += c.length;
    chars += 1;
    if (c.value == U'\n') lines += 1;
  };
  for (;;) {
    std::optional<RefChar> p = previous;
    std::optional<RefChar> c = reader();
    previous = c;
    if (!p) {
      if (!c) return entries;
      countChar(*c);
    } else if (!c) {
      if (p->value == U'\n') {
        entries.push_back({start, bytes - p->length, chars - 1, lines});
      } else {
        lines += 1;
        entries.push_back({start, bytes, chars, lines});
      }
    } else if (p->value == U'\n' && c->value == delimiter) {
      std::optional<RefChar> d = reader();
      if (!d) {
        countChar(*c);
      } else if (d->value == U'\n') {
        entries.push_back({start, bytes - p->length, chars - 1, lines});
        start = d->offset + d->length;
        bytes = chars = lines = 0;
      } else {
        countChar(*c);
        countChar(*d);
      }
    } else {
      countChar(*c);
    }
  }
}

}  // namespace tallowmere::test
