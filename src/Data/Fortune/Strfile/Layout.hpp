// Where the fields of a data file lie in each layout (internal); see StrfileLayout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include <tallowmere/Data/Fortune/Strfile.hpp>

namespace tallowmere::detail {

// The bytes before the table.
[[nodiscard]] std::size_t strfileHeaderLengthOf(StrfileLayout layout) noexcept;
// The bytes of one offset of the table.
[[nodiscard]] std::size_t strfileOffsetLengthOf(StrfileLayout layout) noexcept;

// The offset stored at `at` of `bytes` (strfileOffsetLengthOf(layout) of them); none when its
// upper half, which a text this library reads never needs, is not zero.
[[nodiscard]] std::optional<std::uint32_t> decodeStrfileOffset(StrfileLayout layout,
                                                               std::string_view bytes,
                                                               std::size_t at) noexcept;

}  // namespace tallowmere::detail
