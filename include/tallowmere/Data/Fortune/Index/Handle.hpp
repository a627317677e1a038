// Index: an open index file and the in-memory copy of its header, guarded by one lock.
//
// Copies of an Index share the file and the header; copying never copies a file. Any number
// of threads may share one Index: every operation takes the index's lock, readers included,
// so operations on one index run one at a time and each sees the header that the last
// completed operation left. The lock is not re-entrant: an action or update that calls an
// operation on its own Index gets a UsageError.
//
// The header is read once, at opening, and written only when modifyHeader changes it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include <tallowmere/Data/Fortune/FunctionRef.hpp>
#include <tallowmere/Data/Fortune/Index/Format.hpp>
#include <tallowmere/Data/Fortune/Index/Problems.hpp>
#include <tallowmere/Platform/Env.hpp>
#include <tallowmere/Platform/Export.hpp>
#include <tallowmere/Platform/File.hpp>

namespace tallowmere {

namespace detail {
struct IndexAccess;
}  // namespace detail

class TALLOWMERE_API Index {
 public:
  // What the copies of one Index share; defined and used inside the library only.
  struct TALLOWMERE_HIDDEN State;

 private:
  friend struct detail::IndexAccess;
  explicit Index(std::shared_ptr<State> state) noexcept : state_(std::move(state)) {}

  std::shared_ptr<State> state_;
};

// The current header as an action or update sees it. Each accessor throws the IndexProblem
// AccessToClosedIndex when the index has been closed.
class TALLOWMERE_API CurrentHeader {
 public:
  explicit CurrentHeader(const std::optional<Header>& header) : header_(header) {}
  [[nodiscard]] const Header& get() const;
  [[nodiscard]] std::int64_t indexLoc() const { return get().indexLoc; }
  [[nodiscard]] std::int64_t numFortunes() const { return get().stats.numFortunes; }
  [[nodiscard]] bool isClosed() const noexcept { return !header_.has_value(); }

 private:
  const std::optional<Header>& header_;
};

// Opens the index file at `path` through `env`: read-only, or read-write creating a missing
// file (never truncating) when `writable`. A writable, empty file is first given the empty
// header. A writer never opens it through a symbolic link (OpenMode::ReadWriteNoFollow): a
// link at `path` is refused with symbolicLinkRefused (Env.hpp).
// Throws the platform's IOError when the file cannot be opened; an IOError of the user-error
// kind ("too few bytes") for a file shorter than 64 bytes; HeaderProblemError for a wrong magic
// number or version, or for a table that starts inside the header; IndexProblemError
// TableLongerThanFile when the file ends inside the table. Statistics that fail checkStats
// are rebuilt from the entry table, in memory only.
[[nodiscard]] TALLOWMERE_API Index openIndex(const std::string& path, bool writable,
                                             Env& env = Env::disk());

// The same opening over a file the caller has opened already (a file of its own kind, say);
// the Index takes it over.
[[nodiscard]] TALLOWMERE_API Index openIndex(std::unique_ptr<File> file, bool writable);

// A new, empty index whose file lives in memory (named "<createVirtualIndex>").
[[nodiscard]] TALLOWMERE_API Index createVirtualIndex();

// Closes the file, then marks the header closed (waiting for a running operation to finish).
// Later operations fail with AccessToClosedIndex or the closed file's IOError. Closing twice
// does nothing.
TALLOWMERE_API void closeIndex(const Index& index);

// The statistics of the current header. Throws AccessToClosedIndex on a closed index.
[[nodiscard]] TALLOWMERE_API FortuneStats getStats(const Index& index);

namespace detail {
// Called by the templates below, which programs compile: the shared library exports it.
TALLOWMERE_API void withIndexLocked(const Index& index,
                                    FunctionRef<void(File&, const CurrentHeader&)> action);
}  // namespace detail

// Runs action(file, currentHeader) under the index's lock and returns its result, after
// checking the current header against the file with checkIndex_: a problem found is thrown
// as an IndexProblem instead. On every exit path the header is left as it was and the lock
// is released.
template <class Action>
auto withIndex(const Index& index, Action&& action)
    -> std::invoke_result_t<Action&, File&, const CurrentHeader&> {
  using Result = std::invoke_result_t<Action&, File&, const CurrentHeader&>;
  if constexpr (std::is_void_v<Result>) {
    detail::withIndexLocked(index, action);
  } else {
    std::optional<Result> result;
    detail::withIndexLocked(index, [&](File& file, const CurrentHeader& header) {
      result.emplace(action(file, header));
    });
    return std::move(*result);
  }
}

// Runs update(file, currentHeader) under the index's lock; the header it returns becomes the
// current one. A new header that differs from the current one is validated with checkIndex_
// and, when valid, written over the first 64 bytes of the file in one write; an invalid one
// is thrown as an IndexProblem and never written, so the file keeps its last valid header.
// An unchanged header is not written but still validated. On every failure the current
// header stays as it was and the lock is released.
TALLOWMERE_API void modifyHeader(const Index& index,
                                 FunctionRef<Header(File&, const CurrentHeader&)> update);

// The header checks against a file, in order: indexLoc below 64, then checkStats, then a file
// shorter than indexLoc + 16 * numFortunes. Returns the first problem found, or none; throws
// only the IOError of a failing size query.
[[nodiscard]] TALLOWMERE_API std::optional<IndexProblem> checkIndex_(File& file,
                                                                     const Header& header);

// The statistics scan: recomputes the statistics of `header` from its first numFortunes
// entries, read from the file in batches of 256. The count and indexLoc stay; nothing is
// written. A table cut short throws an IOError of the user-error kind ("too few bytes").
[[nodiscard]] TALLOWMERE_API Header scanStats(File& file, const Header& header);

}  // namespace tallowmere
