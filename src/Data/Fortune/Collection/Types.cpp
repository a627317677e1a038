#include <tallowmere/Data/Fortune/Types.hpp>

#include <array>
#include <ostream>

#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/detail/TextForm.hpp"

namespace tallowmere {
namespace {

constexpr std::array<const char*, 3> typeNames = {"All", "Normal", "Offensive"};

// The values numbered from, from + step, ... while within [lo, hi]; step is not 0.
std::vector<FortuneType> stepping(std::int64_t from, std::int64_t step, std::int64_t lo,
                                  std::int64_t hi) {
  std::vector<FortuneType> values;
  for (std::int64_t n = from; n >= lo && n <= hi; n += step) {
    values.push_back(static_cast<FortuneType>(n));
  }
  return values;
}

// One of the three names, in any number of parentheses.
std::optional<FortuneType> readType(detail::TextReader& reader, int precedence) {
  return reader.optionalParens(precedence, [&reader](int) -> std::optional<FortuneType> {
    const auto name = reader.identifier();
    if (!name) return std::nullopt;
    for (std::size_t i = 0; i < typeNames.size(); ++i) {
      if (*name == typeNames[i]) return static_cast<FortuneType>(i);
    }
    return std::nullopt;
  });
}

// "[" then the elements separated by "," then "]", the whole in any number of parentheses.
std::optional<std::vector<FortuneType>> readTypes(detail::TextReader& reader, int precedence) {
  return reader.optionalParens(precedence,
                               [&reader](int) -> std::optional<std::vector<FortuneType>> {
                                 if (!reader.punctuation('[')) return std::nullopt;
                                 std::vector<FortuneType> types;
                                 if (reader.punctuation(']')) return types;
                                 do {
                                   const auto type = readType(reader, 0);
                                   if (!type) return std::nullopt;
                                   types.push_back(*type);
                                 } while (reader.punctuation(','));
                                 if (!reader.punctuation(']')) return std::nullopt;
                                 return types;
                               });
}

constexpr std::int64_t lowest = fromEnum(minBound<FortuneType>());
constexpr std::int64_t highest = fromEnum(maxBound<FortuneType>());

}  // namespace

template <>
FortuneType toEnum<FortuneType>(std::int64_t n) {
  if (n < lowest || n > highest) {
    throw UsageError("toEnum{FortuneType}: tag (" + std::to_string(n) +
                     ") is outside of enumeration's range (0,2)");
  }
  return static_cast<FortuneType>(n);
}

FortuneType succ(FortuneType type) {
  if (type == maxBound<FortuneType>()) {
    throw UsageError("succ{FortuneType}: tried to take `succ' of last tag in enumeration");
  }
  return static_cast<FortuneType>(fromEnum(type) + 1);
}

FortuneType pred(FortuneType type) {
  if (type == minBound<FortuneType>()) {
    throw UsageError("pred{FortuneType}: tried to take `pred' of first tag in enumeration");
  }
  return static_cast<FortuneType>(fromEnum(type) - 1);
}

std::vector<FortuneType> enumFrom(FortuneType from) {
  return stepping(fromEnum(from), 1, fromEnum(from), highest);
}

std::vector<FortuneType> enumFromTo(FortuneType from, FortuneType to) {
  return stepping(fromEnum(from), 1, fromEnum(from), fromEnum(to));
}

std::vector<FortuneType> enumFromThen(FortuneType from, FortuneType then) {
  return enumFromThenTo(from, then,
                        then >= from ? maxBound<FortuneType>() : minBound<FortuneType>());
}

std::vector<FortuneType> enumFromThenTo(FortuneType from, FortuneType then, FortuneType to) {
  const std::int64_t step = fromEnum(then) - fromEnum(from);
  if (step > 0) return stepping(fromEnum(from), step, fromEnum(from), fromEnum(to));
  if (step < 0) return stepping(fromEnum(from), step, fromEnum(to), fromEnum(from));
  // A step of 0 repeats `from` for ever when `to` does not lie below it; a vector cannot
  // hold that.
  if (to < from) return {};
  throw UsageError("enumFromThenTo{FortuneType}: a step of 0 gives an endless sequence");
}

std::string show(FortuneType type, int /*precedence*/) {
  return typeNames.at(static_cast<std::size_t>(fromEnum(type)));
}

std::string show(std::span<const FortuneType> types, int /*precedence*/) {
  std::string text = "[";
  for (std::size_t i = 0; i < types.size(); ++i) {
    if (i > 0) text += ',';
    text += show(types[i]);
  }
  return text + "]";
}

std::ostream& operator<<(std::ostream& out, FortuneType type) { return out << show(type); }

template <>
std::optional<FortuneType> read<FortuneType>(std::string_view text) {
  return detail::readWhole(text, readType);
}

template <>
std::optional<std::vector<FortuneType>> read<std::vector<FortuneType>>(std::string_view text) {
  return detail::readWhole(text, readTypes);
}

}  // namespace tallowmere
