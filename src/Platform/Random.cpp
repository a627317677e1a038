#include <tallowmere/Platform/Random.hpp>

#include <atomic>
#include <bit>
#include <chrono>
#include <random>

#include <sys/random.h>

namespace tallowmere {
namespace {

// Finalisers that spread every input bit over the whole word.
std::uint64_t mix64(std::uint64_t z) noexcept {
  z = (z ^ (z >> 33)) * 0xff51afd7ed558ccdULL;
  z = (z ^ (z >> 33)) * 0xc4ceb9fe1a85ec53ULL;
  return z ^ (z >> 33);
}

std::uint64_t mix64Variant(std::uint64_t z) noexcept {
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// An odd increment with enough bit transitions that successive states differ in many bits.
std::uint64_t mixGamma(std::uint64_t z) noexcept {
  z = mix64Variant(z) | 1;
  if (std::popcount(z ^ (z >> 1)) < 24) z ^= 0xaaaaaaaaaaaaaaaaULL;
  return z;
}

std::uint64_t initialSeed() noexcept {
  std::uint64_t seed = static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
  std::uint64_t random = 0;
  if (::getrandom(&random, sizeof random, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof random)) {
    // The kernel's generator: one system call, where std::random_device first asks the
    // processor what it offers, which costs far more under a hypervisor.
    seed ^= random;
  } else {
    try {
      std::random_device device;
      seed ^= (static_cast<std::uint64_t>(device()) << 32) ^ device();
    } catch (...) {
      // No random device: the clock alone still differs from run to run.
    }
  }
  return mix64(seed);
}

std::atomic<std::uint64_t>& globalState() noexcept {
  static std::atomic<std::uint64_t> state{initialSeed()};
  return state;
}

}  // namespace

std::uint64_t SplitMix64::nextWord64() noexcept {
  state_ += gamma_;
  return mix64(state_);
}

SplitMix64 SplitMix64::split() noexcept {
  const std::uint64_t seed = nextWord64();
  const std::uint64_t gamma = mixGamma(state_ += gamma_);
  return SplitMix64(seed, gamma);
}

float uniformFloat(SplitMix64& generator) noexcept {
  return static_cast<float>(generator.nextWord64() >> 40) * 0x1p-24f;
}

std::int64_t uniformInt64(SplitMix64& generator, std::int64_t lo, std::int64_t hi) noexcept {
  if (hi < lo) return lo;
  const std::uint64_t range = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo) + 1;
  if (range == 0) return static_cast<std::int64_t>(generator.nextWord64());  // all 2^64 values
  // Draws below `threshold` would favour the low residues; 2^64 - threshold is a multiple of
  // the range, so the draws kept map evenly. At least half of all draws are kept.
  const std::uint64_t threshold = (0 - range) % range;
  for (;;) {
    const std::uint64_t word = generator.nextWord64();
    if (word >= threshold) {
      return static_cast<std::int64_t>(static_cast<std::uint64_t>(lo) + word % range);
    }
  }
}

SplitMix64 splitGlobalGenerator() noexcept {
  // The same split as SplitMix64::split on a generator with the golden increment, done as one
  // atomic step over both outputs.
  const std::uint64_t old =
      globalState().fetch_add(2 * SplitMix64::goldenGamma, std::memory_order_relaxed);
  return SplitMix64(mix64(old + SplitMix64::goldenGamma),
                    mixGamma(old + 2 * SplitMix64::goldenGamma));
}

void seedGlobalGenerator(std::uint64_t seed) noexcept {
  globalState().store(seed, std::memory_order_relaxed);
}

}  // namespace tallowmere
