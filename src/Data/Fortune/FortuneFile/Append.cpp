// Appending a fortune to the text file and its index.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>

#include "Data/Fortune/FortuneFile.hpp"
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Scan.hpp"
#include "Data/Fortune/FortuneFile/Storage.hpp"
#include "Data/Fortune/FortuneFile/Utf8.hpp"
#include "Data/Fortune/Index/State.hpp"
#include "Platform/Errors.hpp"

namespace tallowmere {

namespace {

// Lines as an appended fortune counts them: a newline ends a line, and a final newline does
// not begin another one ("a\n" is 1 line, "" is 0). A later rebuild counts by its own rule.
std::int64_t appendedLines(std::string_view text) {
  const auto newlines = static_cast<std::int64_t>(std::count(text.begin(), text.end(), '\n'));
  return newlines + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

// Drops the marker past the end of the table.
void cutMarker(const Index& index) {
  withIndex(index, [](File& indexFile, const CurrentHeader& header) {
    indexFile.setSize(detail::tableEnd(header.get()));
  });
}

// Refuses to append after a last fortune that ends with a newline and the delimiter, in a file
// without a final newline: the separator would turn that delimiter into a delimiter line, and
// the next rebuild would read the two fortunes differently.
void requireSeparableEnd(detail::Access& access, const FortuneStats& stats, std::int64_t size) {
  if (stats.numFortunes == 0 || size != stats.offsetAfter) return;
  std::string ending = "\n";
  detail::appendUtf8(ending, access.state().delimiter);
  const auto length = static_cast<std::int64_t>(ending.size());
  if (size < length || access.text().readAt(size - length, ending.size()) != ending) return;
  const std::string& path = access.state().path;
  throw IOError::userError(path +
                               ": the last fortune ends with a line holding only the delimiter "
                               "and the file has no final newline; appending would join that "
                               "line to the new fortune's separator. End the file with a newline "
                               "first",
                           path);
}

// Undoes an append that failed after its marker was recorded: the header as it was (in case
// the commit got that far), the text as it was (a run cut short would otherwise stay in it, and
// the next rebuild would take it for a fortune), the marker gone. If that fails too, the next
// writer finds the marker and finishes the job.
void undoQuietly(const FortuneFile::State& state, File& text, const Index& index,
                 const Header& previous, const detail::PendingAppend& pending) noexcept {
  try {
    modifyHeader(index, [&](File&, const CurrentHeader&) { return previous; });
    text.writeAt(pending.writeStart, pending.covered);
    text.setSize(pending.sizeBefore);
    if (state.syncWrites) text.sync();
    cutMarker(index);
    if (state.syncWrites) detail::syncIndex(index);
  } catch (...) {
  }
}

// What an append writes into the text, and where. After the last fortune: the separator (when
// the text holds a fortune), the fortune and a newline; in the classic layout, at the end of
// the text: the fortune, a newline and a delimiter line. Refuses, before anything is written,
// what the text cannot take.
struct PlannedAppend {
  std::string run;
  detail::PendingAppend pending;
  bool classic;  // committed by rebuilding the index, whose last, empty entry moves
};

PlannedAppend planAppend(detail::Access& access, std::string_view text) {
  const FortuneFile::State& state = access.state();
  const FortuneStats stats = getStats(access.index());
  const std::int64_t size = access.text().size();
  const bool classic = detail::inClassicLayout(access);
  if (!classic) requireSeparableEnd(access, stats, size);
  const std::int64_t offset = classic ? size : std::max<std::int64_t>(stats.offsetAfter, 0);
  std::string delimiterLine;
  detail::appendUtf8(delimiterLine, state.delimiter);
  delimiterLine += '\n';
  // The separator goes in whenever the text already holds a fortune, even one that ends at
  // offset 0 (an empty first fortune): writing over it would lose that fortune.
  std::string run = !classic && stats.numFortunes > 0 ? "\n" + delimiterLine : std::string();
  const auto separatorLength = static_cast<std::int64_t>(run.size());
  run.append(text);
  run += '\n';
  if (classic) run += delimiterLine;
  const std::int64_t end = offset + static_cast<std::int64_t>(run.size());
  if (end > detail::maxIndexedTextLength) detail::throwTextTooLong(state.path);
  // What follows the last fortune is at most a final newline and the remains of a cut
  // character (a rebuild leaves no more); the write covers it, and an undo puts it back.
  const std::int64_t covered = std::max<std::int64_t>(size - offset, 0);
  if (covered > 4) {
    throw IOError::userError(state.path + ": unexpected bytes after the last fortune; nothing "
                                          "was added",
                             state.path);
  }
  const IndexEntry entry{offset + separatorLength, static_cast<std::int64_t>(text.size()),
                         detail::countUtf8Chars(text), appendedLines(text)};
  return {std::move(run),
          {entry, offset, size, end, access.text().readAt(offset, static_cast<std::size_t>(covered))},
          classic};
}

// Records the append past the end of the table; returns the header it will replace.
Header recordPending(const Index& index, const detail::PendingAppend& pending) {
  return withIndex(index, [&](File& indexFile, const CurrentHeader& current) {
    indexFile.writeAt(detail::tableEnd(current.get()), detail::encodePendingAppend(pending));
    return current.get();
  });
}

}  // namespace

void appendFortune(const FortuneFile& file, std::string_view text) {
  // Invalid UTF-8 would make the whole file unreadable as text (getFortunes decodes strictly).
  if (detail::findInvalidUtf8(text)) {
    throw IOError::userError(file.fortunePath() + ": the fortune is not valid UTF-8",
                             file.fortunePath());
  }
  detail::withAccess(file, [&](detail::Access& access) {
    const FortuneFile::State& state = access.state();
    // Refused before the index file is opened for writing: a read-only handle changes nothing.
    if (!state.writable) throw IOError::system(EBADF, state.path, "write");
    access.requireWritableText();
    if (!detail::beginWrite(access) || !detail::indexDescribesText(access)) {
      detail::rebuildIndexFile(access);
    }
    const PlannedAppend plan = planAppend(access, text);
    // Taken after the lock, which may have opened the path again.
    File& textFile = access.text();
    const Index& index = access.index();
    // 1. The record, durable before any byte of the text changes.
    const Header previous = recordPending(index, plan.pending);
    if (state.syncWrites) detail::syncIndex(index);
    try {
      // 2. The text, durable before the index lists it.
      textFile.writeAt(plan.pending.writeStart, plan.run);
      if (state.syncWrites) textFile.sync();
      // 3. The commit: the entry (written again, the same bytes) and the header, in one write
      //    of 64 bytes that is seen whole or not at all; or a new index file renamed over the
      //    old one, in the classic layout.
      if (plan.classic) {
        detail::rebuildIndexFile(access);
      } else {
        appendEntry(index, plan.pending.entry);
        if (state.syncWrites) detail::syncIndex(index);
      }
    } catch (...) {
      undoQuietly(state, textFile, index, previous, plan.pending);
      throw;
    }
    // The fortune is added. What follows only tidies up, and a failure of it must not report
    // the append as failed: the marker, now past the end of the longer table, is harmless there
    // (and gone with the old file in the classic layout), and a stale data file of the classic
    // tools is brought up to date by the next change.
    try {
      if (!plan.classic) cutMarker(index);
      detail::updateStrfileData(access);
    } catch (...) {
    }
  });
}

}  // namespace tallowmere
