// What an index must satisfy before its entries are used to read the text, checked cheaply
// against the text's size and the file's delimiter: an index file may be damaged or written by
// anyone, and trusting it would serve text that is no fortune or cost memory out of all
// proportion to the files.
//
// What the rules of the rebuild scan guarantee, and the checks rest on:
//  - Every fortune but the last is followed by a separator (newline, delimiter, newline), and
//    the newline that ends a delimiter line never begins the next one: separators do not
//    overlap. So a text of S > 0 bytes holds at most S / separatorLength + 1 fortunes (the
//    text of separators alone, each enclosing an empty fortune), and an empty text none.
//  - Fortune i + 1 starts at least a separator's length after fortune i ends, and every
//    fortune lies inside the text.
//  - No fortune holds a separator: the scan would have cut it there.
// Appended fortunes follow the same rules (an append writes a separator before every fortune
// but the first, and a newline after each).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <tallowmere/Data/Fortune/Index/Format.hpp>
#include <tallowmere/Platform/Env.hpp>
#include "Data/Fortune/FortuneFile/Cells.hpp"

namespace tallowmere::detail {

// Newline, the delimiter, newline.
std::string separatorOf(char32_t delimiter);

// The most fortunes a text of `textSize` bytes can hold, for separators of `separatorLength`.
std::int64_t maxFortunesIn(std::int64_t textSize, std::int64_t separatorLength) noexcept;

// What a reader checks of an index before it uses it for a fortune file's text.
struct TextBounds {
  std::int64_t textSize;
  std::string separator;

  [[nodiscard]] std::int64_t separatorLength() const noexcept {
    return static_cast<std::int64_t>(separator.size());
  }
};

TextBounds textBoundsOf(Access& access);

// Why the header's statistics cannot describe the text: a count beyond what the text can hold,
// or (with `requireFortunes`) no fortune listed for a text that has some. None when they can.
std::optional<std::string> headerProblem(const FortuneStats& stats, const TextBounds& bounds,
                                         bool requireFortunes);

// Why entry `number` cannot be a fortune of the text that follows `previous` (entry
// number - 1, when there is one). None when it can.
std::optional<std::string> entryProblem(std::int64_t number, const IndexEntry& entry,
                                        const IndexEntry* previous, const TextBounds& bounds);

// Why the bytes read for entry `number` cannot be a fortune: they hold a separator.
std::optional<std::string> bytesProblem(std::int64_t number, std::string_view bytes,
                                        const TextBounds& bounds);

// The first problem of a run of entries numbered from `first`, each after `previous` (the
// entry before the run, if any).
std::optional<std::string> entriesProblem(std::int64_t first, std::span<const IndexEntry> entries,
                                          const IndexEntry* previous, const TextBounds& bounds);

// The first problem of the index's entries from number `from` on (those before it were
// checked already), read in batches of bounded size.
std::optional<std::string> tableProblem(const Index& index, std::int64_t from,
                                        const TextBounds& bounds);

// Why the handle's index cannot be used for its text, judged from its header (a stale index
// included): none when it can. Readers also refuse an empty index over a text that has
// fortunes; a writer's index file is created empty on purpose, and refilled by its next change.
std::optional<std::string> untrustedIndex(const Index& index, Access& access);

// Whether the text was changed after the file made for it (its index, or the classic tools'
// data file) was written: its modification time is later. Equal is not later: an installation
// may give a text and its index one time, and a file system that counts coarse time may give
// both one tick. A text edited by hand, or replaced by an editor's rename, is later than its
// index, whatever its size says; an append of this library writes the text before the index.
[[nodiscard]] bool changedAfter(const FileStatus& text, const FileStatus& made) noexcept;

// Why an index whose text was changed after it (changedAfter) cannot be read through: none
// when the change is an append of this library's own that is still running, or that a crash
// cut short (the index holds its record, and the text's size lies within it), since the index
// then still lists the text as it was before the append.
std::optional<std::string> changedSinceIndex(const Index& index, const FileStatus& indexStatus,
                                             const FileStatus& textStatus);

// changedAfter for the text and index files at the paths of `access`'s fortune file now: for a
// writer, which has undone any unfinished append first.
[[nodiscard]] bool textChangedAfterIndex(Access& access);

// IOError DamagedIndex about the index of `access`'s file: "<index path>: <problem>".
[[noreturn]] void throwDamagedIndex(Access& access, const std::string& problem);

}  // namespace tallowmere::detail
