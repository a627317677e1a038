// Checking an index against its text before it is used; see Trust.hpp.
#include "Data/Fortune/FortuneFile/Trust.hpp"

#include <algorithm>
#include <vector>

#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/FortuneFile/Storage.hpp"
#include "Data/Fortune/FortuneFile/Utf8.hpp"

namespace tallowmere::detail {

namespace {

// Entries read at a time when a whole table is checked: 64 KiB.
constexpr std::int64_t kCheckBatch = 4096;

std::string fortunes(std::int64_t count) {
  return std::to_string(count) + (count == 1 ? " fortune" : " fortunes");
}

}  // namespace

std::string separatorOf(char32_t delimiter) {
  std::string separator = "\n";
  appendUtf8(separator, delimiter);
  separator += '\n';
  return separator;
}

std::int64_t maxFortunesIn(std::int64_t textSize, std::int64_t separatorLength) noexcept {
  return textSize <= 0 ? 0 : textSize / separatorLength + 1;
}

TextBounds textBoundsOf(Access& access) {
  return {access.textSize(), separatorOf(access.state().delimiter)};
}

std::optional<std::string> headerProblem(const FortuneStats& stats, const TextBounds& bounds,
                                         bool requireFortunes) {
  const std::int64_t most = maxFortunesIn(bounds.textSize, bounds.separatorLength());
  if (stats.numFortunes > most) {
    return "it lists " + fortunes(stats.numFortunes) + ", more than a text of " +
           std::to_string(bounds.textSize) + " bytes can hold (" + std::to_string(most) + ")";
  }
  // Only an undecodable ending of at most three bytes holds no fortune.
  if (requireFortunes && stats.numFortunes == 0 && bounds.textSize > 3) {
    return "it lists no fortune, and the text holds " + std::to_string(bounds.textSize) + " bytes";
  }
  return std::nullopt;
}

std::optional<std::string> entryProblem(std::int64_t number, const IndexEntry& entry,
                                        const IndexEntry* previous, const TextBounds& bounds) {
  const std::string name = "fortune " + std::to_string(number);
  // Decoded fields are 32-bit and never negative; entries made in memory are checked alike.
  if (entry.stringOffset < 0 || entry.stringBytes < 0 ||
      entry.stringBytes > bounds.textSize - entry.stringOffset) {
    return name + " (bytes " + std::to_string(entry.stringOffset) + " to " +
           std::to_string(entry.stringOffset + entry.stringBytes) +
           ") ends past the end of the text (" + std::to_string(bounds.textSize) + " bytes)";
  }
  if (previous != nullptr && entry.stringOffset - bounds.separatorLength() <
                                 previous->stringOffset + previous->stringBytes) {
    return name + " starts at byte " + std::to_string(entry.stringOffset) +
           ", not after the separator that ends fortune " + std::to_string(number - 1) +
           " (at byte " + std::to_string(previous->stringOffset + previous->stringBytes) + ")";
  }
  return std::nullopt;
}

std::optional<std::string> bytesProblem(std::int64_t number, std::string_view bytes,
                                        const TextBounds& bounds) {
  const std::size_t at = bytes.find(bounds.separator);
  if (at == std::string_view::npos) return std::nullopt;
  return "fortune " + std::to_string(number) + " holds a delimiter line (" +
         std::to_string(at + 1) + " bytes after its start)";
}

std::optional<std::string> entriesProblem(std::int64_t first, std::span<const IndexEntry> entries,
                                          const IndexEntry* previous, const TextBounds& bounds) {
  for (const IndexEntry& entry : entries) {
    if (auto problem = entryProblem(first, entry, previous, bounds)) return problem;
    previous = &entry;
    ++first;
  }
  return std::nullopt;
}

std::optional<std::string> tableProblem(const Index& index, std::int64_t from,
                                        const TextBounds& bounds) {
  const std::int64_t count = getStats(index).numFortunes;
  std::optional<IndexEntry> previous;
  if (from > 0 && from < count) previous = getEntry(index, from - 1);
  for (std::int64_t first = from; first < count; first += kCheckBatch) {
    const std::vector<IndexEntry> entries = getEntries(index, first, kCheckBatch);
    if (auto problem = entriesProblem(first, entries, previous ? &*previous : nullptr, bounds)) {
      return problem;
    }
    if (!entries.empty()) previous = entries.back();
  }
  return std::nullopt;
}

std::optional<std::string> untrustedIndex(const Index& index, Access& access) {
  if (reachesPastText(index, access)) return "it describes more text than the file holds";
  return headerProblem(getStats(index), textBoundsOf(access), !access.state().writable);
}

bool changedAfter(const FileStatus& text, const FileStatus& made) noexcept {
  return text.exists() && made.exists() && text.modified > made.modified;
}

std::optional<std::string> changedSinceIndex(const Index& index, const FileStatus& indexStatus,
                                             const FileStatus& textStatus) {
  if (!changedAfter(textStatus, indexStatus)) return std::nullopt;
  if (const std::optional<PendingAppend> pending = readPendingAppend(index)) {
    if (textStatus.size >= pending->sizeBefore && textStatus.size <= pending->writeEnd) {
      return std::nullopt;
    }
  }
  return "the text was changed after the index was written";
}

bool textChangedAfterIndex(Access& access) {
  const FortuneFile::State& state = access.state();
  return changedAfter(state.env.status(state.path), state.env.status(state.indexPath));
}

void throwDamagedIndex(Access& access, const std::string& problem) {
  const std::string& path = access.state().indexPath;
  throw IOError::userError(path + ": " + problem, path, ErrorReason::DamagedIndex);
}

}  // namespace tallowmere::detail
