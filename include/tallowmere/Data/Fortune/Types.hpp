// FortuneType: the kinds of fortune a caller can ask for, with the vocabulary of a small
// bounded enumeration.
//
//   All < Normal < Offensive, numbered 0, 1, 2.
//
// The enumeration vocabulary maps onto C++ as free functions: toEnum<FortuneType>(n),
// fromEnum(t), succ(t), pred(t), minBound<FortuneType>(), maxBound<FortuneType>(), and the
// ranges enumFrom, enumFromThen, enumFromTo, enumFromThenTo, which return the values as a
// vector. A value out of range is a UsageError with a fixed message.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <tallowmere/Data/Fortune/Stats.hpp>  // declares the read<T> template
#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

enum class FortuneType : std::uint8_t { All, Normal, Offensive };

template <class T>
[[nodiscard]] constexpr T minBound() noexcept;
template <class T>
[[nodiscard]] constexpr T maxBound() noexcept;
template <>
constexpr FortuneType minBound<FortuneType>() noexcept {
  return FortuneType::All;
}
template <>
constexpr FortuneType maxBound<FortuneType>() noexcept {
  return FortuneType::Offensive;
}

// The number of a value: 0, 1 or 2.
[[nodiscard]] constexpr std::int64_t fromEnum(FortuneType type) noexcept {
  return static_cast<std::int64_t>(type);
}

// The value numbered `n`. Outside 0 to 2 throws UsageError
// "toEnum{FortuneType}: tag (<n>) is outside of enumeration's range (0,2)".
template <class T>
[[nodiscard]] T toEnum(std::int64_t n);
template <>
TALLOWMERE_API FortuneType toEnum<FortuneType>(std::int64_t n);

// The next and the previous value. succ(Offensive) and pred(All) throw UsageError.
[[nodiscard]] TALLOWMERE_API FortuneType succ(FortuneType type);
TALLOWMERE_API FortuneType pred(FortuneType type);

// [from .. Offensive]
[[nodiscard]] TALLOWMERE_API std::vector<FortuneType> enumFrom(FortuneType from);
// [from .. to], empty when to < from.
[[nodiscard]] TALLOWMERE_API std::vector<FortuneType> enumFromTo(FortuneType from, FortuneType to);
// from, then, ... by the step then - from, up to Offensive (or down to All for a negative
// step).
[[nodiscard]] TALLOWMERE_API std::vector<FortuneType> enumFromThen(FortuneType from,
                                                                   FortuneType then);
// from, then, ... by the step then - from, while not past `to`. A step of 0 that would repeat
// `from` without end throws UsageError instead.
[[nodiscard]] TALLOWMERE_API std::vector<FortuneType> enumFromThenTo(FortuneType from,
                                                                     FortuneType then,
                                                                     FortuneType to);

// Text forms: "All", "Normal", "Offensive"; a sequence as "[All,Normal]" (no blanks).
[[nodiscard]] TALLOWMERE_API std::string show(FortuneType type, int precedence = 0);
TALLOWMERE_API std::string show(std::span<const FortuneType> types, int precedence = 0);
TALLOWMERE_API std::ostream& operator<<(std::ostream& out, FortuneType type);

// Parsing: exactly one of the three names (case-sensitive) with optional white space and any
// number of enclosing parentheses; a sequence in the printed list form, with white space
// allowed between tokens. No value when the text does not parse.
template <>
TALLOWMERE_API std::optional<FortuneType> read<FortuneType>(std::string_view text);
template <>
TALLOWMERE_API std::optional<std::vector<FortuneType>> read<std::vector<FortuneType>>(
    std::string_view text);

}  // namespace tallowmere
