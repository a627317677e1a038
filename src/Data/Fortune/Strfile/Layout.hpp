// Where the fields of a data file lie in each layout (internal); see StrfileLayout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include <tallowmere/Data/Fortune/Strfile.hpp>

namespace tallowmere::detail {

// The bytes before the table.
[[nodiscard]] std::size_t strfileHeaderLengthOf(StrfileLayout layout) noexcept;
// The bytes of one offset of the table.
[[nodiscard]] std::size_t strfileOffsetLengthOf(StrfileLayout layout) noexcept;

// Decodes the offsets that `bytes` holds, strfileOffsetLengthOf(layout) bytes each, into `out`
// (as many as it has room for); the number of the first whose upper half, which a text this
// library reads never needs, is not zero, or none when every one fits.
[[nodiscard]] std::optional<std::size_t> decodeStrfileOffsets(
    StrfileLayout layout, std::string_view bytes, std::span<std::uint32_t> out) noexcept;

}  // namespace tallowmere::detail
