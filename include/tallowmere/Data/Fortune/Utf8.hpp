// UTF-8 as this library reads and writes it, for programs that handle fortune texts.
//
// One decoder serves every part of the library: an invalid sequence is one character, read as
// U+FFFD (see FortuneFile/Utf8.hpp for where such a sequence begins and ends).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

// The UTF-8 form of a Unicode scalar value (anything else becomes U+FFFD).
[[nodiscard]] TALLOWMERE_API std::string encodeUtf8(char32_t c);

// `bytes` with every invalid sequence replaced by U+FFFD; never fails.
[[nodiscard]] TALLOWMERE_API std::string decodeUtf8Leniently(std::string_view bytes);

// True when `bytes` is well-formed UTF-8: no overlong forms, surrogates or values past U+10FFFF.
[[nodiscard]] TALLOWMERE_API bool isValidUtf8(std::string_view bytes) noexcept;

// The number of characters, an invalid sequence counting as one.
[[nodiscard]] TALLOWMERE_API std::int64_t countUtf8Chars(std::string_view bytes) noexcept;

// The character that `text` encodes, when it is exactly one well-formed character.
[[nodiscard]] TALLOWMERE_API std::optional<char32_t> decodeOneCharacter(
    std::string_view text) noexcept;

}  // namespace tallowmere
