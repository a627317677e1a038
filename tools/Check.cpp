#include "Check.hpp"

#include <cerrno>
#include <utility>
#include <vector>

#include "Data/Fortune.hpp"

namespace tallowmere::cli {

namespace {

// Closes an index on every exit path.
class OpenIndex {
 public:
  explicit OpenIndex(Index index) : index_(std::move(index)) {}
  ~OpenIndex() {
    try {
      closeIndex(index_);
    } catch (...) {  // nothing was written; a failing close changes no answer
    }
  }
  OpenIndex(const OpenIndex&) = delete;
  OpenIndex& operator=(const OpenIndex&) = delete;
  const Index& get() const noexcept { return index_; }

 private:
  Index index_;
};

// Opening an index repairs bad statistics in memory, so those are looked for in the header
// bytes as they are stored.
std::optional<IndexProblem> storedStatsProblem(const std::string& indexPath) {
  const std::unique_ptr<File> file = openFile(indexPath, OpenMode::ReadOnly);
  const Header header = decodeHeader(file->read(static_cast<std::size_t>(indexHeaderLength)));
  file->close();
  // The empty statistics do not fit the 32-bit fields: an empty index stores them as
  // encodeHeader makes them of emptyHeader, which is not a problem.
  if (header.stats == decodeHeader(encodeHeader(emptyHeader)).stats) return std::nullopt;
  if (const std::optional<StatsProblem> problem = checkStats(header.stats)) {
    return IndexProblem::HeaderProblem(HeaderProblem::StatsProblem(*problem));
  }
  return std::nullopt;
}

// The number of the first fortune where the two tables differ in place or length, or none.
// Line counts are not compared: appending counts a text's lines a little differently from a
// rebuild (a final newline), and both describe the same fortune.
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

// The stored index against one rebuilt in memory from the text.
std::optional<std::string> compareWithText(char32_t delimiter, const std::string& path,
                                           const Index& stored) {
  const OpenIndex rebuilt(createVirtualIndex());
  const std::unique_ptr<File> text = openFile(path, OpenMode::ReadOnly);
  rebuildIndex(delimiter, *text, rebuilt.get());
  text->close();
  const std::string advice = "; rebuild it with: tallowmere index " + path;
  if (const auto at = firstDifference(getEntries(stored), getEntries(rebuilt.get()))) {
    return "the index does not match the text from fortune " + std::to_string(*at) + " on" +
           advice;
  }
  if (!sameStats(getStats(stored), getStats(rebuilt.get()))) {
    return "the statistics in the index header do not match the text" + advice;
  }
  return std::nullopt;
}

}  // namespace

CheckResult checkFortuneFile(char32_t delimiter, const std::string& path) {
  const std::string indexPath = path + ".ix";
  const auto damaged = [&indexPath](const std::string& what) {
    return CheckResult{"damaged index " + indexPath + ": " + what};
  };
  std::optional<OpenIndex> stored;
  try {
    stored.emplace(openIndex(indexPath, /*writable=*/false));
  } catch (const IndexProblemError& e) {
    return damaged(e.what());
  } catch (const IOError& e) {
    if (e.errorCode() == ENOENT) return {"no index file " + indexPath};
    if (e.isUserError()) return damaged(e.what());
    throw;
  }
  if (const std::optional<IndexProblem> problem = checkIndex(stored->get())) {
    return damaged(show(*problem));
  }
  if (const std::optional<IndexProblem> problem = storedStatsProblem(indexPath)) {
    return damaged(show(*problem));
  }
  if (std::optional<std::string> problem = compareWithText(delimiter, path, stored->get())) {
    return {std::move(problem)};
  }
  return {std::nullopt, getStats(stored->get()).numFortunes};
}

}  // namespace tallowmere::cli
