// The one UTF-8 decoder of the fortune file layer.
//
// The index rebuild, getFortune and getFortunes all decode through decodeUtf8, so that a
// fortune's character count, its lenient text and the strict check of a whole file agree on
// where every sequence begins and ends. The decoder never fails: what is not valid UTF-8
// becomes one U+FFFD per invalid sequence, marked as invalid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallowmere::detail {

inline constexpr char32_t replacementCharacter = 0xFFFD;

struct Utf8Char {
  char32_t value;        // the character, or U+FFFD for an invalid sequence
  std::uint32_t length;  // bytes it occupies, 1 to 4
  bool valid;            // false for an invalid sequence (a genuine U+FFFD is valid)
};

// Decodes the character at the front of `bytes` (`size` > 0). An invalid sequence occupies:
//  - a byte that cannot begin a sequence (0x80 to 0xBF, 0xF8 to 0xFF): that byte alone;
//  - a lead byte followed by fewer continuation bytes than it announces (also when `size` cuts
//    it short): the lead byte and the continuation bytes present;
//  - a complete sequence that is overlong, a surrogate or beyond U+10FFFF (the lead bytes C0,
//    C1 and F5 to F7 always give one of these): the lead byte and all its continuation bytes.
// So an invalid sequence that ends exactly at `size` may be the start of a longer one.
inline Utf8Char decodeUtf8(const unsigned char* bytes, std::size_t size) noexcept {
  const unsigned lead = bytes[0];
  if (lead < 0x80) return {lead, 1, true};
  if (lead < 0xC0 || lead >= 0xF8) return {replacementCharacter, 1, false};
  // The continuation bytes the lead byte announces, its payload bits, and the smallest value
  // that needs this many bytes (anything below is an overlong form).
  const std::uint32_t expected = lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
  char32_t value = lead & (0x3Fu >> expected);
  const char32_t smallest = expected == 1 ? 0x80 : expected == 2 ? 0x800 : 0x10000;
  std::uint32_t length = 1;
  for (; length <= expected; ++length) {
    if (length == size || (bytes[length] & 0xC0u) != 0x80u) {
      return {replacementCharacter, length, false};
    }
    value = (value << 6) | (bytes[length] & 0x3Fu);
  }
  if (value < smallest || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
    return {replacementCharacter, length, false};
  }
  return {value, length, true};
}

inline Utf8Char decodeUtf8(std::string_view bytes) noexcept {
  return decodeUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// True for the characters UTF-8 can encode: U+0000 to U+10FFFF without the surrogates.
constexpr bool isScalarValue(char32_t c) noexcept {
  return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

// Appends the UTF-8 form of `c`, which must be a scalar value (anything else becomes U+FFFD).
void appendUtf8(std::string& out, char32_t c);
std::string encodeUtf8(char32_t c);

// `bytes` with every invalid sequence replaced by U+FFFD; never fails.
std::string decodeUtf8Leniently(std::string_view bytes);

// The byte offset of the first invalid sequence, or none when `bytes` is valid UTF-8.
std::optional<std::size_t> findInvalidUtf8(std::string_view bytes) noexcept;

// The number of characters, an invalid sequence counting as one.
std::int64_t countUtf8Chars(std::string_view bytes) noexcept;

}  // namespace tallowmere::detail
