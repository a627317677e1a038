// Fixed-width big-endian encoding of 32-bit numbers, as index files store them.
#pragma once

#include <cstdint>
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
inline void storeFixed32(char* out, std::int64_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  out[0] = static_cast<char>(v >> 24);
  out[1] = static_cast<char>(v >> 16);
  out[2] = static_cast<char>(v >> 8);
  out[3] = static_cast<char>(v);
}

// Reads four bytes at `at` (the caller checks that they are there).
inline std::uint32_t getFixed32(std::string_view in, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(in[at + i])); };
  return (byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3);
}

}  // namespace tallowmere::detail
