#include "Today.hpp"

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>

namespace tallowmere::cli {

namespace {

std::int64_t daysSinceEpoch(int year, unsigned month, unsigned day) {
  const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(month),
                                         std::chrono::day(day)};
  if (!date.ok()) return INT64_MIN;
  return std::chrono::sys_days(date).time_since_epoch().count();
}

// "YYYY-MM-DD" and nothing else, or nothing.
std::int64_t parseDate(std::string_view text) {
  const auto number = [&](std::size_t at, std::size_t length) -> int {
    int value = -1;
    const char* first = text.data() + at;
    const auto [end, error] = std::from_chars(first, first + length, value);
    return error == std::errc() && end == first + length ? value : -1;
  };
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return INT64_MIN;
  const int year = number(0, 4);
  const int month = number(5, 2);
  const int day = number(8, 2);
  if (year < 0 || month < 0 || day < 0) return INT64_MIN;
  return daysSinceEpoch(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
}

}  // namespace

std::int64_t today() {
  if (const char* given = std::getenv("TALLOWMERE_TODAY"); given != nullptr) {
    const std::int64_t day = parseDate(given);
    if (day == INT64_MIN) {
      throw std::runtime_error("TALLOWMERE_TODAY: not a date of the form YYYY-MM-DD: '" +
                               std::string(given) + "'");
    }
    return day;
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) throw std::runtime_error("cannot tell the date");
  return daysSinceEpoch(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                        static_cast<unsigned>(local.tm_mday));
}

std::uint64_t hashBytes(std::string_view bytes) noexcept {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  // FNV leaves the high bits poorly mixed for short texts; one generator step mixes them.
  return SplitMix64(hash).nextWord64();
}

SplitMix64 dayGenerator(std::int64_t day, std::string_view identity) noexcept {
  const std::uint64_t seed =
      hashBytes(identity) ^ (static_cast<std::uint64_t>(day) * SplitMix64::goldenGamma);
  SplitMix64 scramble(seed);
  return SplitMix64(scramble.nextWord64(), scramble.nextWord64());
}

}  // namespace tallowmere::cli
