// Pseudo-random numbers: a splittable generator and the one process-wide instance.
//
// SplitMix64 walks a 64-bit state by an odd increment (its gamma) and scrambles each state into
// an output. Splitting hands out a generator with a fresh state and a fresh gamma taken from two
// outputs, so the two continue as independent streams. It is fast and small, not suitable for
// cryptography.
//
// The process-wide generator is a single atomic word. splitGlobalGenerator advances it with one
// atomic fetch-and-add, so concurrent callers never receive the same stream and never lose an
// update; each caller then draws only from its private generator, without locks.
#pragma once

#include <cstdint>

#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

class TALLOWMERE_API SplitMix64 {
 public:
  // The increment used by the process-wide generator: 2^64 divided by the golden ratio, odd.
  static constexpr std::uint64_t goldenGamma = 0x9e3779b97f4a7c15ULL;

  explicit SplitMix64(std::uint64_t seed) noexcept : state_(seed), gamma_(goldenGamma) {}
  // A generator with its own increment; an even `gamma` is made odd.
  SplitMix64(std::uint64_t seed, std::uint64_t gamma) noexcept : state_(seed), gamma_(gamma | 1) {}

  // The next 64 random bits.
  [[nodiscard]] std::uint64_t nextWord64() noexcept;
  // A new generator, independent of this one, which advances by two outputs.
  [[nodiscard]] SplitMix64 split() noexcept;

 private:
  std::uint64_t state_;
  std::uint64_t gamma_;
};

// A float drawn uniformly from [0, 1) in steps of 2^-24, so every value is exact in 32 bits.
[[nodiscard]] TALLOWMERE_API float uniformFloat(SplitMix64& generator) noexcept;

// An integer drawn uniformly from lo to hi, both included, without bias. An empty range
// (hi < lo) consumes nothing and yields lo, so that a caller indexing an empty table with the
// result gets its own out-of-range failure instead of a hang.
[[nodiscard]] TALLOWMERE_API std::int64_t uniformInt64(SplitMix64& generator, std::int64_t lo,
                                                       std::int64_t hi) noexcept;

// Splits the process-wide generator: it moves on to its next state in one atomic step and the
// caller receives the other half. Safe from any thread.
[[nodiscard]] TALLOWMERE_API SplitMix64 splitGlobalGenerator() noexcept;

// Sets the state of the process-wide generator, so that a test or a run that wants to be
// repeatable sees the same sequence of splits (in one thread) every time. Without it the state
// is seeded once per process from the clock and the system's random device.
TALLOWMERE_API void seedGlobalGenerator(std::uint64_t seed) noexcept;

}  // namespace tallowmere
