// Checking an index file against its text.
#include <cerrno>
#include <exception>
#include <optional>
#include <vector>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Scan.hpp"
#include "Data/Fortune/FortuneFile/Storage.hpp"
#include "Data/Fortune/FortuneFile/Trust.hpp"

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
  [[nodiscard]] const Index& get() const noexcept { return index_; }

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

// Entries of the stored table read at a time while it is compared with the text: 64 KiB.
constexpr std::int64_t kCompareBatch = 4096;

bool samePlace(const IndexEntry& a, const IndexEntry& b) {
  return a.stringOffset == b.stringOffset && a.stringBytes == b.stringBytes &&
         a.stringChars == b.stringChars;
}

// What rebuilding the index from the text would give, compared with the stored table while the
// text is scanned: the number of the first fortune where the two differ in place or length,
// or else the statistics of the rebuilt index. The stored table is read in batches, so the
// memory used does not grow with the file.
struct Comparison {
  std::optional<std::int64_t> firstDifference;
  FortuneStats rebuiltStats;
};

Comparison compareWithText(char32_t delimiter, File& text, const Index& index,
                           std::int64_t storedCount, unsigned scanThreads) {
  // What rebuildIndex refuses, refused alike.
  detail::requireUsableDelimiter("rebuildIndex", delimiter);
  if (text.size() > detail::maxIndexedTextLength) detail::throwTextTooLong(text.name());
  detail::FortuneScanner scanner(delimiter, text, detail::scanChunkSize,
                                 detail::SegmentScan::withThreads(scanThreads));
  FortuneStats stats = emptyHeader.stats;
  std::vector<IndexEntry> stored;
  std::size_t at = 0;       // the next entry of `stored` to compare
  std::int64_t number = 0;  // the number of the text's next entry
  while (const std::optional<IndexEntry> entry = scanner.next()) {
    if (at == stored.size()) {
      stored = getEntries(index, number, kCompareBatch);
      at = 0;
    }
    if (at == stored.size() || !samePlace(stored[at], *entry)) return {number, stats};
    stats += indexEntryStats(*entry);
    ++at;
    ++number;
  }
  if (number != storedCount) return {number, stats};
  return {std::nullopt, stats};
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
    if (e.isUserError())
      return damaged("the file is cut short (too few bytes for its header or table)");
    throw;
  }
  const Index& index = stored->get();
  if (const std::optional<IndexProblem> problem = checkIndex(index)) return damaged(show(*problem));
  if (const std::optional<IndexProblem> problem = storedStatsProblem(index)) {
    return damaged(show(*problem));
  }
  if (detail::readPendingAppend(index)) return {IndexFileState::InterruptedAppend, {}, 0, 0};
  const FortuneStats stats = getStats(index);
  File& text = access.text();
  if (stats.numFortunes > 0 && stats.offsetAfter > text.size()) {
    return {IndexFileState::Stale, "it describes more text than the file holds", 0, 0};
  }
  if (detail::textChangedAfterIndex(access)) {
    return {IndexFileState::Stale, "the text was changed after the index was written", 0, 0};
  }
  const detail::TextBounds bounds{text.size(), detail::separatorOf(state.delimiter)};
  if (auto problem = detail::headerProblem(stats, bounds, false)) return damaged(*problem);
  if (auto problem = detail::tableProblem(index, 0, bounds)) return damaged(*problem);
  const Comparison comparison =
      compareWithText(state.delimiter, text, index, stats.numFortunes, state.scanThreads);
  if (comparison.firstDifference) {
    return {IndexFileState::DiffersFromText, {}, *comparison.firstDifference, 0};
  }
  if (!sameStats(stats, comparison.rebuiltStats)) return {IndexFileState::StatsDiffer, {}, 0, 0};
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
