// The library's UTF-8 codec for programs (Data/Fortune/Utf8.hpp).
#include <tallowmere/Data/Fortune/Utf8.hpp>
#include "Data/Fortune/FortuneFile/Utf8.hpp"

namespace tallowmere {

std::string encodeUtf8(char32_t c) { return detail::encodeUtf8(c); }

std::string decodeUtf8Leniently(std::string_view bytes) {
  return detail::decodeUtf8Leniently(bytes);
}

bool isValidUtf8(std::string_view bytes) noexcept { return !detail::findInvalidUtf8(bytes); }

std::int64_t countUtf8Chars(std::string_view bytes) noexcept {
  return detail::countUtf8Chars(bytes);
}

std::optional<char32_t> decodeOneCharacter(std::string_view text) noexcept {
  if (text.empty()) return std::nullopt;
  const detail::Utf8Char c = detail::decodeUtf8(text);
  if (!c.valid || c.length != text.size()) return std::nullopt;
  return c.value;
}

}  // namespace tallowmere
