#include "Data/Fortune/FortuneFile/Utf8.hpp"

#include <cstring>

namespace tallowmere::detail {

namespace {

// Calls visit(start, decoded) for every character of `bytes`, front to back.
template <class Visit>
void forEachUtf8Char(std::string_view bytes, Visit&& visit) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t at = 0;
  while (at < bytes.size()) {
    const Utf8Char c = decodeUtf8(data + at, bytes.size() - at);
    if (!visit(at, c)) return;
    at += c.length;
  }
}

}  // namespace

void appendUtf8(std::string& out, char32_t c) {
  if (!isScalarValue(c)) c = replacementCharacter;
  auto put = [&out](char32_t byte) { out.push_back(static_cast<char>(byte)); };
  if (c < 0x80) {
    put(c);
  } else if (c < 0x800) {
    put(0xC0 | (c >> 6));
    put(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    put(0xE0 | (c >> 12));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  } else {
    put(0xF0 | (c >> 18));
    put(0x80 | ((c >> 12) & 0x3F));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  }
}

std::string encodeUtf8(char32_t c) {
  std::string out;
  appendUtf8(out, c);
  return out;
}

std::string decodeUtf8Leniently(std::string_view bytes) {
  const std::optional<std::size_t> firstInvalid = findInvalidUtf8(bytes);
  if (!firstInvalid) return std::string(bytes);
  std::string out(bytes.substr(0, *firstInvalid));
  forEachUtf8Char(bytes.substr(*firstInvalid), [&](std::size_t at, const Utf8Char& c) {
    if (c.valid) {
      out.append(bytes, *firstInvalid + at, c.length);
    } else {
      appendUtf8(out, replacementCharacter);
    }
    return true;
  });
  return out;
}

std::optional<std::size_t> findInvalidUtf8(std::string_view bytes) noexcept {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  std::size_t at = 0;
  while (at < size) {
    // Most text is ASCII: pass it eight bytes at a time.
    std::uint64_t word = 0;
    while (size - at >= sizeof word) {
      std::memcpy(&word, data + at, sizeof word);
      if ((word & 0x8080808080808080u) != 0) break;
      at += sizeof word;
    }
    if (at == size) break;
    if (data[at] < 0x80) {
      ++at;
      continue;
    }
    const Utf8Char c = decodeUtf8(data + at, size - at);
    if (!c.valid) return at;
    at += c.length;
  }
  return std::nullopt;
}

std::int64_t countUtf8Chars(std::string_view bytes) noexcept {
  std::int64_t count = 0;
  forEachUtf8Char(bytes, [&](std::size_t, const Utf8Char&) {
    ++count;
    return true;
  });
  return count;
}

}  // namespace tallowmere::detail
