// Draws without repeats (--fresh): every fortune of a collection once, in an order of its own,
// before any comes again, from one run of the program to the next.
//
// What is kept between runs is a few numbers per collection and options, never a list of what
// was shown: a seed that picks an order (a permutation of the fortune numbers, computed, never
// stored) and how far along it the draws are. It lives in the user's state directory, one small
// file per collection, "fresh-KEY" beside its lock file "fresh-KEY.lock".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tallowmere::cli {

// Where --fresh keeps its state: $XDG_STATE_HOME/tallowmere, else $HOME/.local/state/tallowmere
// (a relative XDG_STATE_HOME counts as unset, as the XDG rules ask); none without either.
[[nodiscard]] std::optional<std::string> freshStateDirectory();

// The element at `position` of the permutation of [0, count) that `seed` picks. Each seed gives
// a bijection; different seeds give unrelated ones. Needs 0 <= position < count.
[[nodiscard]] std::int64_t permute(std::uint64_t seed, std::int64_t position,
                                   std::int64_t count) noexcept;

// The state of one collection's rounds.
struct FreshRound {
  std::uint64_t fingerprint = 0;  // of the files and options the round is over
  std::uint64_t seed = 0;         // picks the round's order
  std::int64_t count = 0;         // the fortunes in the round
  std::int64_t position = 0;      // how many of them were drawn, 0 to count - 1

  friend bool operator==(const FreshRound&, const FreshRound&) = default;
};

// The text form stored in the state file, and back; no value for anything damaged or out of
// range.
[[nodiscard]] std::string showRound(const FreshRound& round);
[[nodiscard]] std::optional<FreshRound> readRound(std::string_view text);

// The next fortune number, from 0 to count - 1, of the round kept in `directory` under `key`
// for a collection of `count` fortunes summed up by `fingerprint`. The state is read, moved on
// and written back under an exclusive lock on its lock file, the new state written beside the
// old one, synced and renamed over it: draws that run at once each take their own number, and a
// crash at any moment leaves the old state or the new. A state for other files or options starts
// a new round; a damaged one too, told in one line on standard error. Returns no value, after
// one line on standard error, when the state cannot be read or written: the caller then draws
// without it.
[[nodiscard]] std::optional<std::int64_t> takeFreshNumber(const std::string& directory,
                                                          std::uint64_t key,
                                                          std::uint64_t fingerprint,
                                                          std::int64_t count);

}  // namespace tallowmere::cli
