#include "Fresh.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include <tallowmere/Platform/Env.hpp>
#include <tallowmere/Platform/Random.hpp>

namespace tallowmere::cli {

namespace {

constexpr std::string_view kMagic = "tallowmere-fresh 1";
// A state file is a line of a few dozen bytes; anything longer is damaged.
constexpr std::size_t kLongestState = 256;

std::uint64_t mix(std::uint64_t value) noexcept { return SplitMix64(value).nextWord64(); }

// A Feistel network over numbers of 2 * half bits: four rounds of a keyed mix, a bijection
// whatever the round function.
std::uint64_t feistel(std::uint64_t seed, std::uint64_t value, unsigned half) noexcept {
  const std::uint64_t mask = (std::uint64_t{1} << half) - 1;
  std::uint64_t left = value >> half;
  std::uint64_t right = value & mask;
  for (std::uint64_t round = 0; round < 4; ++round) {
    const std::uint64_t next = left ^ (mix(seed ^ (right + (round << 58))) & mask);
    left = right;
    right = next;
  }
  return (left << half) | right;
}

std::string hex(std::uint64_t value) {
  std::array<char, 17> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%016" PRIx64, value);
  return buffer.data();
}

void tell(const std::string& message) {
  std::cout.flush();
  std::cerr << "tallowmere: " << message << '\n';
}

}  // namespace

std::optional<std::string> freshStateDirectory() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/tallowmere";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.local/state/tallowmere";
  return std::nullopt;
}

std::int64_t permute(std::uint64_t seed, std::int64_t position, std::int64_t count) noexcept {
  const auto bound = static_cast<std::uint64_t>(count);
  const unsigned bits = std::max(2U, static_cast<unsigned>(std::bit_width(bound - 1)));
  const unsigned half = (bits + 1) / 2;
  // Walking the cycle from a number below the bound ends at the next one below it: the
  // network permutes [0, 4^half), and at most three of every four numbers lie outside.
  auto value = static_cast<std::uint64_t>(position);
  do {
    value = feistel(seed, value, half);
  } while (value >= bound);
  return static_cast<std::int64_t>(value);
}

std::string showRound(const FreshRound& round) {
  return std::string(kMagic) + ' ' + hex(round.fingerprint) + ' ' + hex(round.seed) + ' ' +
         std::to_string(round.count) + ' ' + std::to_string(round.position) + '\n';
}

std::optional<FreshRound> readRound(std::string_view text) {
  if (!text.starts_with(kMagic) || !text.ends_with('\n')) return std::nullopt;
  text.remove_prefix(kMagic.size());
  text.remove_suffix(1);
  const auto field = [&text](auto& value, int base) {
    if (!text.starts_with(' ')) return false;
    text.remove_prefix(1);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end == text.data()) return false;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
  };
  FreshRound round;
  if (!field(round.fingerprint, 16) || !field(round.seed, 16) || !field(round.count, 10) ||
      !field(round.position, 10) || !text.empty()) {
    return std::nullopt;
  }
  if (round.count < 1 || round.position < 0 || round.position >= round.count) return std::nullopt;
  return round;
}

std::optional<std::int64_t> takeFreshNumber(const std::string& directory, std::uint64_t key,
                                            std::uint64_t fingerprint, std::int64_t count) {
  Env& env = Env::disk();
  const std::string path = directory + "/fresh-" + hex(key);
  try {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) throw std::runtime_error(directory + ": " + error.message());
    const std::unique_ptr<File> lockFile =
        env.openFile(path + ".lock", OpenMode::ReadWriteNoFollow);
    const std::unique_ptr<FileLock> lock = env.lockFile(*lockFile, LockMode::Exclusive);

    std::optional<FreshRound> kept;
    if (env.linkStatus(path).exists()) {
      kept = readRound(env.openFile(path, OpenMode::ReadOnly)->readAt(0, kLongestState));
      if (!kept) tell(path + ": damaged state of --fresh; a new round begins");
    }
    FreshRound round;
    if (kept && kept->fingerprint == fingerprint && kept->count == count) {
      round = *kept;
    } else {
      round = {fingerprint, splitGlobalGenerator().nextWord64(), count, 0};
    }
    const std::int64_t number = permute(round.seed, round.position, count);
    if (++round.position == count) {
      round.seed = splitGlobalGenerator().nextWord64();
      round.position = 0;
    }
    replaceFileWhole(env, path, showRound(round), /*durable=*/true);
    return number;
  } catch (const std::exception& failure) {
    tell(std::string(failure.what()) + "; --fresh draws without its state");
    return std::nullopt;
  }
}

}  // namespace tallowmere::cli
