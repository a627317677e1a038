// Appending a fortune to the text file and its index.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Scan.hpp"
#include "Data/Fortune/FortuneFile/Storage.hpp"
#include "Data/Fortune/FortuneFile/Utf8.hpp"
#include "Data/Fortune/Index/State.hpp"

namespace tallowmere {

namespace {

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

// Where an append writes into the text and what it writes around the fortune: after the last
// fortune the separator (when the text holds a fortune), the fortune and a newline; in the
// classic layout, at the end of the text, the fortune, a newline and a delimiter line. Refuses,
// before anything is written, what the text cannot take.
struct PlannedAppend {
  std::string prefix;
  std::string suffix;
  detail::PendingAppend pending;  // its entry still without the fortune's lengths
  bool classic;  // committed by rebuilding the index, whose last, empty entry moves
};

PlannedAppend planAppend(detail::Access& access, std::optional<std::int64_t> length) {
  const FortuneFile::State& state = access.state();
  const FortuneStats stats = getStats(access.index());
  const std::int64_t size = access.text().size();
  const bool classic = detail::inClassicLayout(access);
  if (!classic) requireSeparableEnd(access, stats, size);
  const std::int64_t offset = classic ? size : std::max<std::int64_t>(stats.offsetAfter, 0);
  std::string delimiterLine;
  detail::appendUtf8(delimiterLine, state.delimiter);
  delimiterLine += '\n';
  PlannedAppend plan;
  plan.classic = classic;
  // The separator goes in whenever the text already holds a fortune, even one that ends at
  // offset 0 (an empty first fortune): writing over it would lose that fortune.
  if (!classic && stats.numFortunes > 0) plan.prefix = "\n" + delimiterLine;
  plan.suffix = classic ? "\n" + delimiterLine : "\n";
  // The end of the write, when the fortune's length is known; else as far as any write may go.
  const std::int64_t end = length ? offset + static_cast<std::int64_t>(plan.prefix.size()) +
                                        *length + static_cast<std::int64_t>(plan.suffix.size())
                                  : detail::maxIndexedTextLength;
  if (end > detail::maxIndexedTextLength) detail::throwTextTooLong(state.path);
  // What follows the last fortune is at most a final newline and the remains of a cut
  // character (a rebuild leaves no more); the write covers it, and an undo puts it back.
  const std::int64_t covered = std::max<std::int64_t>(size - offset, 0);
  if (covered > 4) {
    throw IOError::userError(state.path +
                                 ": unexpected bytes after the last fortune; nothing "
                                 "was added",
                             state.path);
  }
  plan.pending = {IndexEntry{offset + static_cast<std::int64_t>(plan.prefix.size()), 0, 0, 0},
                  offset, size, end,
                  access.text().readAt(offset, static_cast<std::size_t>(covered))};
  return plan;
}

// Records the append past the end of the table; returns the header it will replace.
Header recordPending(const Index& index, const detail::PendingAppend& pending) {
  return withIndex(index, [&](File& indexFile, const CurrentHeader& current) {
    indexFile.writeAt(detail::tableEnd(current.get()), detail::encodePendingAppend(pending));
    return current.get();
  });
}

// Writes the fortune's bytes into the text as they come, in writes of up to 1 MiB, and works out
// its entry on the way: checks that it is UTF-8 (a sequence cut between two pieces is completed
// by the next) and that it stays within what an index can address.
class FortuneWriter {
 public:
  FortuneWriter(File& text, const std::string& path, const PlannedAppend& plan)
      : text_(text),
        path_(path),
        at_(plan.pending.writeStart),
        limit_(detail::maxIndexedTextLength - static_cast<std::int64_t>(plan.suffix.size())),
        entry_(plan.pending.entry),
        buffer_(plan.prefix) {}

  void add(std::string_view piece) {
    if (piece.empty()) return;
    entry_.stringBytes += static_cast<std::int64_t>(piece.size());
    entry_.stringLines += static_cast<std::int64_t>(std::count(piece.begin(), piece.end(), '\n'));
    last_ = piece.back();
    check(piece);
    buffer_.append(piece);
    if (buffer_.size() >= kWrite) flush();
  }

  // The suffix written, everything flushed; the fortune's entry.
  IndexEntry finish(const std::string& suffix) {
    if (!unchecked_.empty()) throwNotUtf8();  // a sequence the text ends in the middle of
    if (entry_.stringBytes > 0 && last_ != '\n') entry_.stringLines += 1;
    buffer_ += suffix;
    flush();
    return entry_;
  }

 private:
  static constexpr std::size_t kWrite = 1 << 20;

  void check(std::string_view piece) {
    unchecked_.append(piece);
    std::string_view rest = unchecked_;
    while (!rest.empty()) {
      const detail::Utf8Char c = detail::decodeUtf8(rest);
      if (!c.valid) {
        // Cut short by the end of what has come so far: the next piece may complete it.
        const bool cut = c.length == rest.size() && rest.size() < 4 &&
                         (static_cast<unsigned char>(rest[0]) & 0xC0) == 0xC0;
        if (!cut) throwNotUtf8();
        break;
      }
      entry_.stringChars += 1;
      rest.remove_prefix(c.length);
    }
    unchecked_.assign(rest);
    if (entry_.stringOffset + entry_.stringBytes > limit_) detail::throwTextTooLong(path_);
  }

  void flush() {
    text_.writeAt(at_, buffer_);
    at_ += static_cast<std::int64_t>(buffer_.size());
    buffer_.clear();
  }

  [[noreturn]] void throwNotUtf8() const {
    throw IOError::userError(path_ + ": the fortune is not valid UTF-8", path_,
                             ErrorReason::InvalidUtf8);
  }

  File& text_;
  const std::string& path_;
  std::int64_t at_;           // where the next write goes
  const std::int64_t limit_;  // where the fortune must end at the latest
  IndexEntry entry_;
  std::string buffer_;
  std::string unchecked_;  // the bytes of a sequence not yet complete
  char last_ = '\0';
};

// The append itself, under the fortune file's exclusive lock; `length`, when known, bounds the
// record of the write.
void append(detail::Access& access, std::optional<std::int64_t> length,
            FunctionRef<std::string_view()> next) {
  const FortuneFile::State& state = access.state();
  // Refused before the index file is opened for writing: a read-only handle changes nothing.
  if (!state.writable) throw IOError::system(EBADF, state.path, "write");
  access.requireWritableText();
  if (!detail::beginWrite(access) || !detail::indexDescribesText(access)) {
    detail::rebuildIndexFile(access);
  }
  // An index this process may only read says so, before the text changes.
  detail::requireWritableIndex(access.index());
  const PlannedAppend plan = planAppend(access, length);
  // Taken after the lock, which may have opened the path again.
  File& textFile = access.text();
  const Index& index = access.index();
  // 1. The record, durable before any byte of the text changes.
  const Header previous = recordPending(index, plan.pending);
  if (state.syncWrites) detail::syncIndex(index);
  try {
    // 2. The text, durable before the index lists it.
    FortuneWriter writer(textFile, state.path, plan);
    for (std::string_view piece = next(); !piece.empty(); piece = next()) writer.add(piece);
    const IndexEntry entry = writer.finish(plan.suffix);
    if (state.syncWrites) textFile.sync();
    // 3. The commit: the entry and the header, in one write of 64 bytes that is seen whole or
    //    not at all; or a new index file renamed over the old one, in the classic layout.
    if (plan.classic) {
      detail::rebuildIndexFile(access);
    } else {
      appendEntry(index, entry);
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
}

}  // namespace

void appendFortune(const FortuneFile& file, std::string_view text) {
  // Invalid UTF-8 would make the whole file unreadable as text (getFortunes decodes strictly).
  if (detail::findInvalidUtf8(text)) {
    throw IOError::userError(file.fortunePath() + ": the fortune is not valid UTF-8",
                             file.fortunePath(), ErrorReason::InvalidUtf8);
  }
  bool given = false;
  detail::withAccess(file, [&](detail::Access& access) {
    append(access, static_cast<std::int64_t>(text.size()), [&]() -> std::string_view {
      if (given) return {};
      given = true;
      return text;
    });
  });
}

void appendFortune(const FortuneFile& file, FunctionRef<std::string_view()> next) {
  detail::withAccess(file, [&](detail::Access& access) { append(access, std::nullopt, next); });
}

}  // namespace tallowmere
