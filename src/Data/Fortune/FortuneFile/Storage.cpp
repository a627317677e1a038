#include "Data/Fortune/FortuneFile/Storage.hpp"

#include <algorithm>

#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/FortuneFile/Scan.hpp"
#include "Data/Fortune/FortuneFile/Trust.hpp"
#include "Data/Fortune/FortuneFile/Utf8.hpp"
#include "Data/Fortune/Index/State.hpp"
#include "Data/Fortune/detail/Coding.hpp"

namespace tallowmere::detail {

namespace {

constexpr std::uint32_t kPendingMagic = 0x41504E44;  // "APND"
constexpr std::size_t kMarkerLength = 32;
constexpr std::size_t kMaxCovered = 4;
constexpr std::size_t kPendingLength = static_cast<std::size_t>(indexEntryLength) + kMarkerLength;

}  // namespace

std::optional<PendingAppend> readPendingAppend(const Index& index) {
  return withIndex(
      index, [](File& file, const CurrentHeader& header) -> std::optional<PendingAppend> {
        const std::string bytes = file.readAt(tableEnd(header.get()), kPendingLength);
        if (bytes.size() < kPendingLength) return std::nullopt;
        const auto marker = static_cast<std::size_t>(indexEntryLength);
        if (getFixed32(bytes, marker) != kPendingMagic) return std::nullopt;
        PendingAppend pending{decodeIndexEntry(bytes, 0).first, getFixed32(bytes, marker + 4),
                              getFixed32(bytes, marker + 8), getFixed32(bytes, marker + 12),
                              std::string()};
        const std::int64_t covered = pending.sizeBefore - pending.writeStart;
        if (covered < 0 || covered > static_cast<std::int64_t>(kMaxCovered) ||
            pending.writeEnd < pending.sizeBefore) {
          return std::nullopt;
        }
        pending.covered = bytes.substr(marker + 16, static_cast<std::size_t>(covered));
        return pending;
      });
}

namespace {

// Drops whatever lies past the end of the index's table: a marker, or the stale bytes of an
// older writer.
void cutIndexAtTable(const Index& index) {
  withIndex(index,
            [](File& file, const CurrentHeader& header) { file.setSize(tableEnd(header.get())); });
}

// Puts the text back as it was before an append that never committed: the bytes the write
// covered, and the size. Done only when the text still looks as that append would have left
// it (its size between the size before and the end of the write); otherwise the text
// changed since in another way, and indexDescribesText decides what to do.
void undoUnfinishedAppend(Access& access, const Index& index) {
  const std::optional<PendingAppend> pending = readPendingAppend(index);
  if (!pending) return;
  requireWritableIndex(index);
  File& text = access.text();
  const std::int64_t size = text.size();
  if (size >= pending->sizeBefore && size <= pending->writeEnd) {
    text.writeAt(pending->writeStart, pending->covered);
    text.setSize(pending->sizeBefore);
    if (access.state().syncWrites) text.sync();
  }
  cutIndexAtTable(index);
  if (access.state().syncWrites) syncIndex(index);
}

bool isDamage(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const IndexProblemError&) {
    return true;
  } catch (const IOError& e) {
    // A refusal (a symbolic link at the index's path) is no damage that a new file may replace.
    return e.isUserError() && e.reason() != ErrorReason::PermissionDenied;
  } catch (...) {
    return false;
  }
}

// The index file on disk now, in the handle: opened for the first time, or opened again. One
// that this process may only read is opened read-only (openIndexForWriting), to serve while
// nothing needs writing. False when it is missing or too damaged to open.
bool loadIndexFile(Access& access) {
  FortuneFile::State& state = access.state();
  if (!state.env.status(state.indexPath).exists()) return false;
  try {
    if (const Index* open = access.openIndex(); open != nullptr && isWritableIndex(*open)) {
      try {
        reopenIndex(*open, true);
        return true;
      } catch (const IOError& error) {
        if (!isPermissionError(error)) throw;  // else it may be read, at least
      }
    }
    access.setIndex(openIndexForWriting(state.indexPath, state.env));
    return true;
  } catch (...) {
    if (isDamage(std::current_exception())) return false;
    throw;
  }
}

}  // namespace

bool beginWrite(Access& access) {
  access.lock(LockMode::Exclusive);
  if (!loadIndexFile(access)) return false;
  undoUnfinishedAppend(access, access.index());
  return true;
}

bool inClassicLayout(Access& access) {
  const Index& index = access.index();
  const FortuneStats stats = getStats(index);
  if (stats.numFortunes < 2) return false;
  File& text = access.text();
  const std::int64_t size = text.size();
  if (getEntry(index, stats.numFortunes - 1) != IndexEntry{size, 0, 0, 1}) return false;
  const std::string separator = separatorOf(access.state().delimiter);
  const auto length = static_cast<std::int64_t>(separator.size());
  return size >= length && text.readAt(size - length, separator.size()) == separator;
}

bool indexDescribesText(Access& access) {
  // Edited by hand since: what the index says of the text's end proves nothing.
  if (textChangedAfterIndex(access)) return false;
  if (inClassicLayout(access)) return true;
  const Index& index = access.index();
  const FortuneStats stats = getStats(index);
  File& text = access.text();
  const std::int64_t size = text.size();
  if (stats.numFortunes == 0) return size == 0;
  const std::int64_t end = stats.offsetAfter;
  if (end < 0 || size < end || size > end + 1) return false;
  const IndexEntry last = getEntry(index, stats.numFortunes - 1);
  if (last.stringBytes <= 0 || last.stringOffset + last.stringBytes != end) return false;
  // The last byte of the last fortune, and what follows it: nothing, or one newline.
  const std::string tail = text.readAt(end - 1, static_cast<std::size_t>(size - end + 1));
  if (tail.size() != static_cast<std::size_t>(size - end + 1) || tail.front() == '\n' ||
      (tail.size() == 2 && tail.back() != '\n')) {
    return false;
  }
  if (last.stringOffset == 0) return stats.numFortunes == 1;
  const std::string separator = separatorOf(access.state().delimiter);
  const auto length = static_cast<std::int64_t>(separator.size());
  if (last.stringOffset < length ||
      text.readAt(last.stringOffset - length, separator.size()) != separator) {
    return false;
  }
  // The entries before the last one too, which an append would otherwise keep however wrong
  // they are: each once for this handle and index file, so that a run of appends checks only
  // the entries added since.
  const TextBounds bounds{size, separator};
  if (headerProblem(stats, bounds, false)) return false;
  const std::int64_t checked = std::min(checkedEntries(index), stats.numFortunes);
  if (tableProblem(index, checked, bounds)) return false;
  setCheckedEntries(index, stats.numFortunes);
  return true;
}

void rebuildIndexFile(Access& access) {
  FortuneFile::State& state = access.state();
  File& text = access.text();
  if (text.size() > maxIndexedTextLength) throwTextTooLong(state.path);
  const auto fill = [&](const Index& fresh) {
    FortuneScanner scanner(state.delimiter, text, scanChunkSize,
                           SegmentScan::withThreads(state.scanThreads));
    unfoldEntryBatches(fresh, [&scanner] { return scanner.nextBatch(); });
  };
  const bool threadsAllowed = state.scanThreads != 1;
  if (const Index* open = access.openIndex()) {
    replaceIndex(*open, fill, threadsAllowed, state.path);
  } else {
    access.setIndex(writeIndexFile(state.env, state.indexPath, fill, threadsAllowed, state.path));
  }
  // Made from the text: sound throughout.
  setCheckedEntries(access.index(), getStats(access.index()).numFortunes);
  dateAfterText(access);
}

void dateAfterText(Access& access) {
  if (!textChangedAfterIndex(access)) return;
  // A rebuild that found the index as it should be wrote nothing, and an index older than its
  // text would still look stale: its header is written again as it is, which dates the file
  // and changes no byte a reader could see.
  try {
    withIndex(access.index(), [](File& file, const CurrentHeader& header) {
      file.writeAt(0, encodeHeader(header.get()));
    });
    if (access.state().syncWrites) syncIndex(access.index());
  } catch (const IOError&) {  // an index this process may only read stays as it is
  }
}

std::string strfilePathOf(const std::string& textPath) { return textPath + ".dat"; }

std::string encodePendingAppend(const PendingAppend& pending) {
  std::string bytes = encodeIndexEntry(pending.entry);
  putFixed32(bytes, kPendingMagic);
  putFixed32(bytes, pending.writeStart);
  putFixed32(bytes, pending.sizeBefore);
  putFixed32(bytes, pending.writeEnd);
  bytes += pending.covered;
  bytes.resize(kPendingLength, '\0');
  return bytes;
}

}  // namespace tallowmere::detail

namespace tallowmere {

void syncFortuneFile(const FortuneFile& file) {
  detail::withAccess(file, [](detail::Access& access) {
    const FortuneFile::State& state = access.state();
    // Each file at its path, whichever handle or process wrote it; then their directory, which
    // holds the names that appends created and rebuilds renamed.
    for (const std::string& path :
         {state.path, state.indexPath, detail::strfilePathOf(state.path)}) {
      if (state.env.status(path).isFile()) state.env.openFile(path, OpenMode::ReadOnly)->sync();
    }
    state.env.syncDirectory(parentDirectory(state.path));
  });
}

}  // namespace tallowmere
