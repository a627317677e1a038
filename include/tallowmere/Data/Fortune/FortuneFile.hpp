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
// cell's lock inside it, so operations on one handle run one at a time. Between processes and
// between handles, the text file itself carries an advisory lock (flock): every change
// (appendFortune, rebuildIndex, and creating or repairing the index) holds it exclusively for
// its whole run; reads that must see the index and the text together (getFortune, getFortunes,
// getEntries, and indexing a text in memory) hold it shared. Other programs that take the same
// lock cooperate.
//
// Safety through crashes: an index file is never rewritten in place. A rebuild writes the new
// index beside the old one (a new hidden file, ".NAME.ix.XXXXXXXX.tmp"), syncs it and renames
// it over the old one, so that readers see one or the other, whole. An append records itself
// past the end of the index's table, writes the text, then commits the entry with the 64-byte
// header; the next writer undoes an append that never committed, so that no fragment is ever
// listed. An index that describes more text than the file holds, or is older than the text
// (the text was edited since; an append of the library writes the text before the index, and
// an unfinished one leaves a record that tells it apart), is never used to read text.
//
// Safety in a directory that others may write to: a writer never writes through a symbolic
// link that it finds beside the text. Its temporaries are new files under fresh names; a
// symbolic link at the index's or the data file's path (FILE.ix, FILE.dat) is refused with an
// IOError of the user-error kind, reason PermissionDenied, naming the link, and left as it is
// (it is neither followed nor replaced, wherever it points). A new index or data file gets the
// mode and group of the file it replaces, or of the text when there was none, whatever the
// umask. An index file that this process may only read serves a writable fortune file as long
// as nothing needs writing (a rebuild that would write it unchanged succeeds); a change that
// must write it fails with "FILE.ix: open for writing: Permission denied" (or the like).
//
// Every operation on a closed fortune file throws UsageError "Fortune file is closed".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <tallowmere/Data/Fortune/FunctionRef.hpp>
#include <tallowmere/Data/Fortune/Index.hpp>
#include <tallowmere/Platform/Env.hpp>
#include <tallowmere/Platform/Export.hpp>
#include <tallowmere/Platform/File.hpp>

namespace tallowmere {

namespace detail {
struct FortuneFileAccess;
}  // namespace detail

class TALLOWMERE_API FortuneFile {
 public:
  // What the copies of one FortuneFile share; defined and used inside the library only.
  struct TALLOWMERE_HIDDEN State;

  // The path given to openFortuneFile, unchanged.
  [[nodiscard]] const std::string& fortunePath() const noexcept;
  [[nodiscard]] char32_t fortuneDelim() const noexcept;
  [[nodiscard]] bool fortuneWritable() const noexcept;

 private:
  friend struct detail::FortuneFileAccess;
  explicit FortuneFile(std::shared_ptr<State> state) noexcept : state_(std::move(state)) {}

  std::shared_ptr<State> state_;
};

// How a fortune file reaches its files.
struct TALLOWMERE_API FortuneFileOptions {
  // The file system: the disk, or a MemoryEnv (or a test's own) in tests.
  Env* env = &Env::disk();
  // How many threads read and scan a long text (8 MiB or more) when rebuildIndex and
  // checkIndexFile index it: 1, the calling thread alone (the library starts no thread of its
  // own unless asked); 0, as many as the processor runs at once (up to 4); or that many.
  // Other than 1, it also lets rebuildIndex sync a long new index (over 1 MiB) in a thread
  // while it is written, so that little is left to wait for at the end.
  unsigned scanThreads = 1;
  // Whether appendFortune and rebuildIndex make their changes durable (synced to the disk)
  // before they return. Without it, a crash of the program still loses nothing that was
  // acknowledged, but the machine losing power may lose the last fortunes appended, never
  // more than those (the index and the text stay consistent). Bulk loads that can repeat
  // their work may turn it off.
  bool sync = true;
};

// Opens a fortune file; no file is opened or created yet. With `writable` false a path that
// is not an existing file throws an IOError of the user-error kind
// "openFortuneFile: file does not exist: \"<path>\"". A delimiter that is a newline or not a
// Unicode scalar value is a UsageError.
[[nodiscard]] TALLOWMERE_API FortuneFile openFortuneFile(char32_t delimiter, bool writable,
                                                         const std::string& path,
                                                         const FortuneFileOptions& options = {});

// Closes the text file, then the index. Throws "Fortune file is closed" when already closed.
TALLOWMERE_API void closeFortuneFile(const FortuneFile& file);

// The text file's path, and the index file's path (".ix" appended: jokes.txt -> jokes.txt.ix).
[[nodiscard]] TALLOWMERE_API std::string fortuneFilePath(const FortuneFile& file);
TALLOWMERE_API std::string fortuneIndexPath(const FortuneFile& file);

// The file's Index, opened (or built in memory) on first use; the same Index until closed,
// even when the operation that obtained it failed. A read-only fortune file whose index file
// cannot be opened, describes more text than the file holds or is older than the text gets an
// index built in memory from the text; only when that fails too is the reason the index file
// was unusable thrown. A writable fortune file creates a missing index file (empty, whatever
// the text holds) and rebuilds one that describes more text than the file holds or is older
// than the text; a damaged one throws.
[[nodiscard]] TALLOWMERE_API Index getIndex(const FortuneFile& file);

// The number of fortunes in the index.
[[nodiscard]] TALLOWMERE_API std::int64_t getNumFortunes(const FortuneFile& file);

// Every entry of the index, in table order.
[[nodiscard]] TALLOWMERE_API std::vector<IndexEntry> getEntries(const FortuneFile& file);

// Fortune number i (from 0), its bytes decoded leniently: invalid UTF-8 becomes U+FFFD.
// An out-of-range number throws "getEntry: index out of range: <i>". An index found to reach
// past the end of the text is replaced as getIndex would replace it, and the fortune is read
// through the new one.
[[nodiscard]] TALLOWMERE_API std::string getFortune(const FortuneFile& file, std::int64_t i);

// Visits every fortune in index order with its number, its entry and its bytes as they stand in
// the text (invalid UTF-8 left as it is; decodeUtf8Leniently reads them as getFortune does). The
// index is read in batches and the text in large pieces, once: memory stays bounded by the
// longest fortune, whatever the size of the file. An index that reaches past the end of the
// text is replaced first, as getFortune replaces it. Holds the fortune file's locks, and the
// shared lock on the text, for the whole run: `visit` must not use this fortune file.
TALLOWMERE_API void forEachFortune(
    const FortuneFile& file,
    FunctionRef<void(std::int64_t, const IndexEntry&, std::string_view)> visit);

// Every fortune of the text, split at separators without consulting the index; the last piece
// keeps what follows the last separator, final newline included. The text must be valid UTF-8;
// otherwise an IOError (EILSEQ).
[[nodiscard]] TALLOWMERE_API std::vector<std::string> getFortunes(const FortuneFile& file);

// Appends `text` as a new fortune after the last one: the separator (when the text holds a
// fortune), `text` and a newline. When the index does not already list every fortune of the
// text as a rebuild would (another program changed the text, or the index is missing or
// damaged), it is rebuilt first; otherwise only the new entry and the header are written.
// Returns once the text, then the index, are durable (see FortuneFileOptions::sync).
//
// Refused with an IOError of the user-error kind, before anything is written, when `text` is
// not valid UTF-8, when the text file would grow beyond 4294967295 bytes, and when the last
// fortune ends with a newline and the delimiter but the file has no final newline (the
// separator would make the two fortunes read differently). A read-only fortune file fails at
// its first attempted change. A failed append leaves the text and the index as they were;
// should even that fail (or the program stop), the next writer undoes what it left.
TALLOWMERE_API void appendFortune(const FortuneFile& file, std::string_view text);

// The same for a fortune handed over in pieces: `next` returns the next piece of its text, and
// an empty view once there is no more. The text is written as it comes, so that a fortune of any
// size is added in bounded memory. What it may be refused for (not UTF-8, too long) is found on
// the way: the text is then put back as it was. `next` runs under the fortune file's locks and
// must not use it; what it throws fails the append the same way.
TALLOWMERE_API void appendFortune(const FortuneFile& file, FunctionRef<std::string_view()> next);

// Makes durable what is written to the fortune file's text, its index and the classic tools'
// data file beside it, by this handle or any other, and their names in the directory: the end
// of a bulk load made with FortuneFileOptions::sync turned off. An IOError when a file cannot be
// synced.
TALLOWMERE_API void syncFortuneFile(const FortuneFile& file);

// Rebuilds the index from the text into a new index file that replaces the old one whole
// (a damaged or missing one included). A text longer than 4294967295 bytes is refused
// (IOError of the user-error kind) before any index file is created or changed. A read-only
// fortune file rebuilds an index held in memory, and fails with an IOError for an index file.
TALLOWMERE_API void rebuildIndex(const FortuneFile& file);

// Writes the data file of the classic tools (strfile's FILE.dat) for the text: byte for byte
// what strfile writes for it, with the delimiter and flags of the data file already there, or,
// without one, with the fortune file's delimiter (which must then be an ASCII character) and
// no flags, in the layout Linux's strfile writes (StrfileLayout::Offsets32, also over a data
// file of another layout). Replaced whole, as an index file is. A data file that exists beside
// the text is also rewritten, in the layout it has, by appendFortune (which still adds the
// fortune should that fail; the next change brings it up to date) and by rebuildIndex.
TALLOWMERE_API void rebuildStrfileData(const FortuneFile& file);

// How an index file stands against its text, as checkIndexFile finds it.
enum class IndexFileState {
  Sound,    // it lists every fortune of the text as a rebuild would
  Missing,  // there is no index file
  Damaged,  // it cannot be opened, its header fails its checks, or it cannot describe the text
            // (more fortunes than the text can hold, entries out of order or past its end); see
            // detail
  Stale,    // it describes more text than the file holds, or the text was changed after it was
            // written (its modification time is later than the index's); see detail
  DiffersFromText,    // its entries differ from the text's from fortune firstDifference on
  StatsDiffer,        // its entries match the text, the statistics in its header do not
  InterruptedAppend,  // an append stopped half way; the next change to the file undoes it
};

struct TALLOWMERE_API IndexFileReport {
  IndexFileState state = IndexFileState::Sound;
  std::string detail;                // Damaged, Stale: what is wrong
  std::int64_t firstDifference = 0;  // DiffersFromText
  std::int64_t numFortunes = 0;      // Sound: the number of fortunes
};

// Checks the index file on disk (opened afresh and read-only, not the handle's own index)
// against the text, holding the shared lock so that no writer is half way through either.
// Line counts are not compared: appending counts a final newline differently from a rebuild,
// and both describe the same fortune. Throws only what reading the text throws.
[[nodiscard]] TALLOWMERE_API IndexFileReport checkIndexFile(const FortuneFile& file);

// Refills `index` from the text read through `textFile`, cutting it at lines that hold only
// `delimiter`; reads the text once in chunks, in constant memory. An index opened from a path
// gets a new file, replacing the old one whole (see FortuneFile above); one in memory, or over
// a file the caller opened, is cleared and refilled in place, and is left cleared when reading
// or writing fails.
TALLOWMERE_API void rebuildIndex(char32_t delimiter, File& textFile, const Index& index);

}  // namespace tallowmere
