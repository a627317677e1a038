// FortuneFile: an open fortune database, a UTF-8 text file paired with its index.
//
// The text format: fortunes separated by delimiter lines, lines that hold only the delimiter
// character. Appended fortunes end with one newline; the separator is newline, delimiter,
// newline. The index file is the text file's path with ".ix" appended.
//
// Opening checks only that the text file exists. The text file and the index are opened on
// first use and kept open, each behind its own lock, until closeFortuneFile. A read-only
// fortune file whose index file cannot be opened gets an index rebuilt from the text in memory
// instead; nothing is written to disk. Copies of a FortuneFile share both cells.
//
// Locks: every operation below takes the text cell's lock for its whole run, and the index
// cell's lock inside it when it needs the index, so operations on one fortune file run one at
// a time and never see another one half done (a rebuild that has cleared the index but not
// refilled it, for example). Every operation on a closed fortune file throws UsageError
// "Fortune file is closed".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Data/Fortune/Index.hpp"
#include "Platform/File.hpp"

namespace tallowmere {

class FortuneFile {
 public:
  struct State;
  explicit FortuneFile(std::shared_ptr<State> state) : state_(std::move(state)) {}

  // The path given to openFortuneFile, unchanged.
  const std::string& fortunePath() const noexcept;
  char32_t fortuneDelim() const noexcept;
  bool fortuneWritable() const noexcept;

  State& state() const noexcept { return *state_; }

 private:
  std::shared_ptr<State> state_;
};

// Opens a fortune file; no file is opened or created yet. With `writable` false a path that
// is not an existing file throws an IOError of the user-error kind
// "openFortuneFile: file does not exist: \"<path>\"". A delimiter that is a newline or not a
// Unicode scalar value is a UsageError.
FortuneFile openFortuneFile(char32_t delimiter, bool writable, const std::string& path);

// Closes the text file, then the index. Throws "Fortune file is closed" when already closed.
void closeFortuneFile(const FortuneFile& file);

// The text file's path, and the index file's path (".ix" appended: jokes.txt -> jokes.txt.ix).
std::string fortuneFilePath(const FortuneFile& file);
std::string fortuneIndexPath(const FortuneFile& file);

// The file's Index, opened (or built in memory) on first use; the same Index until closed.
// Throws what opening the index file threw: for a writable fortune file always, for a
// read-only one only when building the index in memory fails too.
Index getIndex(const FortuneFile& file);

// The number of fortunes in the index.
std::int64_t getNumFortunes(const FortuneFile& file);

// Every entry of the index, in table order. Read under the file's locks like getNumFortunes,
// so a rebuild running on another thread is never seen half done.
std::vector<IndexEntry> getEntries(const FortuneFile& file);

// Fortune number i (from 0), its bytes decoded leniently: invalid UTF-8 becomes U+FFFD.
// An out-of-range number throws "getEntry: index out of range: <i>".
std::string getFortune(const FortuneFile& file, std::int64_t i);

// Every fortune of the text, split at separators without consulting the index; the last piece
// keeps what follows the last separator, final newline included. The text must be valid UTF-8;
// otherwise an IOError (EILSEQ).
std::vector<std::string> getFortunes(const FortuneFile& file);

// Rebuilds the index from the text, then appends `text` as a new fortune after the last one:
// the separator (when the text holds a fortune), `text` and a newline in one write, flushed
// before the entry is recorded. Refused with an IOError of the user-error kind, before
// anything is written, when `text` is not valid UTF-8 or the text file would grow beyond
// 4294967295 bytes. A read-only fortune file fails at its first attempted change. Should
// writing the text fail, the bytes it covered are put back; should recording the entry fail,
// the text keeps the fortune and the next rebuild indexes it.
void appendFortune(const FortuneFile& file, std::string_view text);

// Rebuilds the index from the text, holding both of the file's locks. A text longer than
// 4294967295 bytes is refused (IOError of the user-error kind) before the index is cleared.
void rebuildIndex(const FortuneFile& file);

// Refills `index` from the text read through `textFile`, cutting it at lines that hold only
// `delimiter`. Clears the index first; reads the text once in chunks, in constant memory.
// Read and write errors propagate and leave the index cleared.
void rebuildIndex(char32_t delimiter, File& textFile, const Index& index);

}  // namespace tallowmere
