// Traversal of a fortune file's index: map every entry to a result, or keep the positions of
// the entries that pass a test.
//
// Every variant reads the whole entry table once (getEntries of the file, holding its locks
// only for that read, so a rebuild on another thread is never seen half done) and then calls the
// callback for each entry in position order, one call after the other. Callbacks see the
// IndexEntry, not the text; one that needs the text reads it with getFortune, and may do so (or
// append to the file) without waiting on the index lock. Entries appended during the traversal are
// not visited.
//
// Positions count from 0 in the integer type Pos that the caller chooses (64-bit signed by
// default): mapFortunesWithIndexM<std::int8_t>(...). When the file holds more entries than Pos
// can count, the traversal ends after the entry at Pos's largest value.
//
// Failures: those of getEntries (a closed file, a damaged index) propagate before
// any callback runs. A callback that throws ends the traversal at once; the failure propagates
// and no partial result is returned. The file must stay open; the traversal neither opens nor
// closes it.
//
// In the names, M marks a callback that is an action (it may do I/O or fail) and WithIndex one
// that is handed the position; in C++ both kinds are plain callables. A callback returning void
// makes the map variants return void.
#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include <tallowmere/Data/Fortune/Index.hpp>
#include <tallowmere/Data/Fortune/Stats.hpp>

namespace tallowmere {

// A position type: any integer type but bool.
template <class Pos>
concept FortunePosition = std::integral<Pos> && !std::same_as<Pos, bool>;

namespace detail {

// visit(position, entry) for each entry in table order.
template <FortunePosition Pos, class Visit>
void forEachFortune(const FortuneFile& file, Visit&& visit) {
  const std::vector<IndexEntry> entries = getEntries(file);
  Pos position = 0;
  for (const IndexEntry& entry : entries) {
    visit(position, entry);
    if (position == std::numeric_limits<Pos>::max()) break;
    ++position;
  }
}

// The results of call(position, entry) in position order; nothing for a void call.
template <FortunePosition Pos, class Call>
auto collectFortunes(const FortuneFile& file, Call&& call) -> std::conditional_t<
    std::is_void_v<std::invoke_result_t<Call&, Pos, const IndexEntry&>>, void,
    std::vector<std::decay_t<std::invoke_result_t<Call&, Pos, const IndexEntry&>>>> {
  using Result = std::invoke_result_t<Call&, Pos, const IndexEntry&>;
  if constexpr (std::is_void_v<Result>) {
    forEachFortune<Pos>(file, call);
  } else {
    std::vector<std::decay_t<Result>> results;
    forEachFortune<Pos>(file,
                        [&](Pos i, const IndexEntry& entry) { results.push_back(call(i, entry)); });
    return results;
  }
}

// The positions for which keep(position, entry) is true, ascending.
template <FortunePosition Pos, class Keep>
[[nodiscard]] std::vector<Pos> filterPositions(const FortuneFile& file, Keep&& keep) {
  std::vector<Pos> positions;
  forEachFortune<Pos>(file, [&](Pos i, const IndexEntry& entry) {
    if (keep(i, entry)) positions.push_back(i);
  });
  return positions;
}

}  // namespace detail

// callback(position, entry) for every entry; the results in position order.
template <FortunePosition Pos = std::int64_t, class Callback>
auto mapFortunesWithIndexM(Callback&& callback, const FortuneFile& file) {
  return detail::collectFortunes<Pos>(file, callback);
}

// function(entry) for every entry.
template <class Function>
auto mapFortunes(Function&& function, const FortuneFile& file) {
  return detail::collectFortunes<std::int64_t>(
      file,
      [&](std::int64_t, const IndexEntry& entry) -> decltype(auto) { return function(entry); });
}

// action(entry) for every entry.
template <class Action>
auto mapFortunesM(Action&& action, const FortuneFile& file) {
  return mapFortunes(action, file);
}

// function(position) for every position: the action it returns is performed, and its result
// collected (a returned value that is not callable is collected as it is). The entries are
// not passed on.
template <FortunePosition Pos = std::int64_t, class Function>
auto mapFortunesWithIndex(Function&& function, const FortuneFile& file) {
  return detail::collectFortunes<Pos>(file, [&](Pos i, const IndexEntry&) -> decltype(auto) {
    if constexpr (std::is_invocable_v<std::invoke_result_t<Function&, Pos>>) {
      return function(i)();
    } else {
      return function(i);
    }
  });
}

// The positions whose entry passes test(entry).
template <FortunePosition Pos = std::int64_t, class Test>
[[nodiscard]] std::vector<Pos> filterFortunes(Test&& test, const FortuneFile& file) {
  return detail::filterPositions<Pos>(file,
                                      [&](Pos, const IndexEntry& entry) { return test(entry); });
}

template <FortunePosition Pos = std::int64_t, class Test>
[[nodiscard]] std::vector<Pos> filterFortunesM(Test&& test, const FortuneFile& file) {
  return filterFortunes<Pos>(test, file);
}

// The positions that pass test(position, entry).
template <FortunePosition Pos = std::int64_t, class Test>
[[nodiscard]] std::vector<Pos> filterFortunesWithIndex(Test&& test, const FortuneFile& file) {
  return detail::filterPositions<Pos>(file, test);
}

template <FortunePosition Pos = std::int64_t, class Test>
[[nodiscard]] std::vector<Pos> filterFortunesWithIndexM(Test&& test, const FortuneFile& file) {
  return detail::filterPositions<Pos>(file, test);
}

// Plain fields of a statistics record, for callers that want numbers rather than the record
// (obtain one with getStats(getIndex(file))).
[[nodiscard]] constexpr std::int64_t numFortunes(const FortuneStats& stats) noexcept {
  return stats.numFortunes;
}
constexpr std::int64_t minChars(const FortuneStats& stats) noexcept { return stats.minChars; }
[[nodiscard]] constexpr std::int64_t maxChars(const FortuneStats& stats) noexcept {
  return stats.maxChars;
}
constexpr std::int64_t minLines(const FortuneStats& stats) noexcept { return stats.minLines; }
[[nodiscard]] constexpr std::int64_t maxLines(const FortuneStats& stats) noexcept {
  return stats.maxLines;
}

}  // namespace tallowmere
