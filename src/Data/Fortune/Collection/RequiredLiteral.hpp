// The literal text that every match of a regular expression holds (internal).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tallowmere::detail {

// The longest run of characters that every match of the POSIX extended regular expression
// `pattern` must contain, as far as a simple reading tells; none when it cannot tell.
std::optional<std::string> requiredLiteral(std::string_view pattern);

}  // namespace tallowmere::detail
