// How a writer changes a fortune file so that other processes, and a crash at any moment, never
// see or keep a change half made.
//
// Every change runs under the exclusive lock on the text file and begins with beginWrite: the
// text file open is the one at the path, the index is the one on disk now (another process may
// have appended or rebuilt since this handle last looked), and an append that another writer
// left unfinished is undone. The index is then either current (indexDescribesText) or rebuilt
// into a new file that replaces the old one whole (rebuildIndexFile).
//
// An append in progress is recorded past the end of the index's table before the text is
// written, where readers never look: the new entry, then a marker of 32 bytes holding the magic
// number "APND", where the write into the text starts, the text's size before it, where the
// write ends, and the up to four bytes of the old text that the write covers (a final newline,
// or the remains of a cut character), then zero bytes. Committing the header makes the entry
// part of the table (or, for a text in the classic layout, a rebuilt index replaces the file);
// until then the next writer puts the text back as the marker says.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Data/Fortune/FortuneFile/Cells.hpp"

namespace tallowmere::detail {

// Prepares a change: takes the exclusive lock, reopens the index file from disk (or opens it
// for the first time) and undoes an unfinished append. Returns false when there is no usable
// index file (missing, or too damaged to open), which the change must then rebuild.
bool beginWrite(Access& access);

// Whether the index lists every fortune of the text as a rebuild would, as far as cheap checks
// tell: the text ends where the last entry says (after at most a final newline), the last
// fortune is preceded by a separator of this file's delimiter, and it neither is empty nor ends
// with a newline (whose lines a rebuild counts differently from an append); or the text is in
// the classic layout.
bool indexDescribesText(Access& access);

// Whether the text is in the classic layout, where every fortune, the last included, is
// followed by a delimiter line: the index ends with the empty entry that a rebuild gives the
// end of such a text. An append keeps that layout.
bool inClassicLayout(Access& access);

// Rebuilds the index from the text into a new index file renamed over the old one (or creates
// it), and makes it the handle's index. Refuses a text too long to index before anything is
// created or changed.
void rebuildIndexFile(Access& access);

// Writes the index's header again, unchanged, when the index is older than its text
// (changedAfter), so that an index a rebuild found current no longer looks stale.
void dateAfterText(Access& access);

// The data file of the classic tools beside a text: its path with ".dat" appended.
std::string strfilePathOf(const std::string& textPath);

// Rewrites the data file of the classic tools beside the text (FILE.dat), when there is one
// that decodes, for the text as it is now, with its own delimiter and flags.
void updateStrfileData(Access& access);

// An append in progress, as recorded past the end of the index's table.
struct PendingAppend {
  IndexEntry entry;
  std::int64_t writeStart;  // where the write into the text starts
  std::int64_t sizeBefore;  // the text's size before it
  std::int64_t writeEnd;    // where the write ends
  std::string covered;      // the text's bytes from writeStart to sizeBefore (at most 4)
};

// The record of an unfinished append past the end of the index's table, if there is one.
std::optional<PendingAppend> readPendingAppend(const Index& index);

// The 48 bytes recorded: the entry, then the marker.
std::string encodePendingAppend(const PendingAppend& pending);

}  // namespace tallowmere::detail
