// Fixed-width big-endian encoding of 32-bit numbers, as index files store them.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tallowmere::detail {

// Appends the low 32 bits of `value`, most significant byte first.
inline void putFixed32(std::string& out, std::int64_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                         static_cast<char>(v >> 8), static_cast<char>(v)};
  out.append(bytes, 4);
}

// Stores the low 32 bits of `value` at `out`, most significant byte first.
// (One store of the swapped word: byte by byte, every store through a char pointer would
// make the compiler reload what it might have changed.)
inline void storeFixed32(char* out, std::int64_t value) {
  auto v = static_cast<std::uint32_t>(value);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
  std::memcpy(out, &v, sizeof v);
}

// Reads four bytes at `at` (the caller checks that they are there).
inline std::uint32_t getFixed32(std::string_view in, std::size_t at) {
  const auto byte = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(in[at + i]));
  };
  return (byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3);
}

}  // namespace tallowmere::detail
