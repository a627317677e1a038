// Checking an index file against its text.
#include <cerrno>
#include <exception>
#include <optional>

#include "Data/Fortune/FortuneFile.hpp"
#include "Data/Fortune/FortuneFile/Cells.hpp"

namespace tallowmere {

namespace {

// Closes an index on every exit path.
class ClosingIndex {
 public:
  explicit ClosingIndex(Index index) : index_(std::move(index)) {}
  ~ClosingIndex() {
    try {
      closeIndex(index_);
    } catch (...) {  // nothing was written; a failing close changes no answer
    }
  }
  ClosingIndex(const ClosingIndex&) = delete;
  ClosingIndex& operator=(const ClosingIndex&) = delete;
  const Index& get() const noexcept { return index_; }

 private:
  Index index_;
};

// Opening an index repairs bad statistics in memory, so those are looked for in the header
// bytes as they are stored.
std::optional<IndexProblem> storedStatsProblem(const Index& index) {
  const Header stored = withIndex(index, [](File& file, const CurrentHeader&) {
    return decodeHeader(file.readAt(0, static_cast<std::size_t>(indexHeaderLength)));
  });
  // The empty statistics do not fit the 32-bit fields: an empty index stores them as
  // encodeHeader makes them of emptyHeader, which is not a problem.
  if (stored.stats == decodeHeader(encodeHeader(emptyHeader)).stats) return std::nullopt;
  if (const std::optional<StatsProblem> problem = checkStats(stored.stats)) {
    return IndexProblem::HeaderProblem(HeaderProblem::StatsProblem(*problem));
  }
  return std::nullopt;
}

// The number of the first fortune where the two tables differ in place or length, or none.
std::optional<std::size_t> firstDifference(const std::vector<IndexEntry>& stored,
                                           const std::vector<IndexEntry>& rebuilt) {
  const std::size_t common = std::min(stored.size(), rebuilt.size());
  for (std::size_t i = 0; i < common; ++i) {
    const IndexEntry& a = stored[i];
    const IndexEntry& b = rebuilt[i];
    if (a.stringOffset != b.stringOffset || a.stringBytes != b.stringBytes ||
        a.stringChars != b.stringChars) {
      return i;
    }
  }
  if (stored.size() != rebuilt.size()) return common;
  return std::nullopt;
}

bool sameStats(const FortuneStats& a, const FortuneStats& b) {
  return a.numFortunes == b.numFortunes && a.offsetAfter == b.offsetAfter &&
         a.minChars == b.minChars && a.maxChars == b.maxChars;
}

IndexFileReport damaged(std::string what) {
  return {IndexFileState::Damaged, std::move(what), 0, 0};
}

IndexFileReport check(detail::Access& access) {
  const FortuneFile::State& state = access.state();
  std::optional<ClosingIndex> stored;
  try {
    stored.emplace(openIndex(state.indexPath, /*writable=*/false, state.env));
  } catch (const IndexProblemError& e) {
    return damaged(e.what());
  } catch (const IOError& e) {
    if (e.errorCode() == ENOENT) return {IndexFileState::Missing, {}, 0, 0};
    // The one failure of the library's own in opening an index: a file that ends inside its
    // header or table.
    if (e.isUserError()) return damaged("the file is cut short (too few bytes for its header or table)");
    throw;
  }
  const Index& index = stored->get();
  if (const std::optional<IndexProblem> problem = checkIndex(index)) return damaged(show(*problem));
  if (const std::optional<IndexProblem> problem = storedStatsProblem(index)) {
    return damaged(show(*problem));
  }
  const FortuneStats stats = getStats(index);
  File& text = access.text();
  if (stats.numFortunes > 0 && stats.offsetAfter > text.size()) {
    return {IndexFileState::Stale, {}, 0, 0};
  }
  const ClosingIndex rebuilt(createVirtualIndex());
  rebuildIndex(state.delimiter, text, rebuilt.get());
  if (const auto at = firstDifference(getEntries(index), getEntries(rebuilt.get()))) {
    return {IndexFileState::DiffersFromText, {}, static_cast<std::int64_t>(*at), 0};
  }
  if (!sameStats(stats, getStats(rebuilt.get()))) return {IndexFileState::StatsDiffer, {}, 0, 0};
  return {IndexFileState::Sound, {}, 0, stats.numFortunes};
}

}  // namespace

IndexFileReport checkIndexFile(const FortuneFile& file) {
  IndexFileReport report;
  detail::withAccess(file, [&](detail::Access& access) {
    access.lock(LockMode::Shared);
    report = check(access);
  });
  return report;
}

}  // namespace tallowmere
