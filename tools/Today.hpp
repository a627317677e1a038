// The fortune of the day: which day it is, and the generator that picks that day's fortune.
#pragma once

#include <cstdint>
#include <string_view>

#include <tallowmere/Platform/Random.hpp>

namespace tallowmere::cli {

// Today as days since 1970-01-01 in the local time zone, or the date that TALLOWMERE_TODAY
// names ("YYYY-MM-DD"), to see another day's fortune. Throws a std::runtime_error for a
// TALLOWMERE_TODAY that is not such a date.
[[nodiscard]] std::int64_t today();

// 64 bits that stand for `bytes` (FNV-1a, scrambled): equal texts give equal hashes, and
// texts that differ anywhere almost surely different ones. Not for secrets.
[[nodiscard]] std::uint64_t hashBytes(std::string_view bytes) noexcept;

// The generator that draws the fortune of `day` from the collection and options that
// `identity` describes: the same for the same day and identity, an unrelated one for any
// other, so that over the days every fortune is as likely as a draw makes it.
[[nodiscard]] SplitMix64 dayGenerator(std::int64_t day, std::string_view identity) noexcept;

}  // namespace tallowmere::cli
