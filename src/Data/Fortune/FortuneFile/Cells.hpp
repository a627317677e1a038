// The state behind a FortuneFile and the access every operation works through.
//
// Each cell is one lock and one value: not yet opened, open, or closed. An operation takes the
// text cell's lock and then the index cell's lock, holds both for its whole run, and sees the
// cells through an Access. Through it, the operation opens the text file on first need (so
// that counting fortunes does not create a missing text file), takes the advisory lock on the
// text file that other handles and processes respect, and obtains the index.
//
// On failure, a text file that the operation opened for the first time is dropped again (the
// next use opens it anew); an index it obtained is kept, so that a handle hands out the same
// Index from its first success on.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include <tallowmere/Data/Fortune/FunctionRef.hpp>
#include <tallowmere/Platform/Env.hpp>
#include "Data/Fortune/Index/State.hpp"
#include "Platform/Guarded.hpp"

namespace tallowmere {

namespace detail {

struct NotYetOpened {};
struct Closed {};

// An open text file. A writable fortune file whose text this process may only read gets it
// read-only, with the reason it could not be opened for writing: its index can still be
// rebuilt, and an append says why it cannot write.
struct OpenText {
  std::shared_ptr<File> file;
  int writeError = 0;
};

using TextCell = std::variant<NotYetOpened, OpenText, Closed>;
using IndexCell = std::variant<NotYetOpened, Index, Closed>;

}  // namespace detail

struct FortuneFile::State {
  State(std::string path, char32_t delimiter, bool writable, const FortuneFileOptions& options);

  const std::string path;
  const std::string indexPath;
  const char32_t delimiter;
  const bool writable;
  Env& env;
  const bool syncWrites;
  const unsigned scanThreads;
  // The lock order: the text cell, then the index cell, then the lock of an Index (which
  // the index cell holds). Checked by clang where one function takes two of them; a thread
  // that takes a cell it holds already gets a UsageError at run time (see Mutex).
  detail::Guarded<detail::TextCell> text;
  detail::Guarded<detail::IndexCell> index TM_ACQUIRED_AFTER(text)
      TM_ACQUIRED_BEFORE(Index::State::header);
};

namespace detail {

// The library's way in to a FortuneFile: its shared state, and a new handle on a state.
struct FortuneFileAccess {
  static FortuneFile::State& state(const FortuneFile& file) noexcept { return *file.state_; }
  static FortuneFile make(std::shared_ptr<FortuneFile::State> state) noexcept {
    return FortuneFile(std::move(state));
  }
};

}  // namespace detail

// Neither of the locks of `file`'s two cells may be held by the caller.
#define TM_EXCLUDES_CELLS(file)                            \
  TM_EXCLUDES(detail::FortuneFileAccess::state(file).text, \
              detail::FortuneFileAccess::state(file).index)

// The public operations that take the cells' locks, declared again with what the analysis
// needs (FortuneFile.hpp cannot name the locks inside the incomplete State): none may be
// called by a thread that holds either. Keep these in step with FortuneFile.hpp.
void closeFortuneFile(const FortuneFile& file) TM_EXCLUDES_CELLS(file);
Index getIndex(const FortuneFile& file) TM_EXCLUDES_CELLS(file);
std::int64_t getNumFortunes(const FortuneFile& file) TM_EXCLUDES_CELLS(file);
std::vector<IndexEntry> getEntries(const FortuneFile& file) TM_EXCLUDES_CELLS(file);
std::string getFortune(const FortuneFile& file, std::int64_t i) TM_EXCLUDES_CELLS(file);
void forEachFortune(const FortuneFile& file,
                    FunctionRef<void(std::int64_t, const IndexEntry&, std::string_view)> visit)
    TM_EXCLUDES_CELLS(file);
std::vector<std::string> getFortunes(const FortuneFile& file) TM_EXCLUDES_CELLS(file);
void appendFortune(const FortuneFile& file, std::string_view text) TM_EXCLUDES_CELLS(file);
void appendFortune(const FortuneFile& file, FunctionRef<std::string_view()> next)
    TM_EXCLUDES_CELLS(file);
void syncFortuneFile(const FortuneFile& file) TM_EXCLUDES_CELLS(file);
void rebuildIndex(const FortuneFile& file) TM_EXCLUDES_CELLS(file);
void rebuildStrfileData(const FortuneFile& file) TM_EXCLUDES_CELLS(file);
IndexFileReport checkIndexFile(const FortuneFile& file) TM_EXCLUDES_CELLS(file);

namespace detail {

// One operation's hold on a fortune file: the scoped accessor to both cells' values. Only
// withAccess makes one, after taking both locks, and it lives no longer than they are held;
// it can be neither copied nor moved out of that scope. The analysis cannot follow the cells'
// values into it (it has no way to say "while this object lives, those locks are held"), so
// its members are plain references whose scope withAccess guarantees.
class Access {
 public:
  ~Access() = default;
  Access(const Access&) = delete;
  Access& operator=(const Access&) = delete;
  Access(Access&&) = delete;
  Access& operator=(Access&&) = delete;

  [[nodiscard]] FortuneFile::State& state() const noexcept { return state_; }

  // The text file's handle. On the first use the file is opened (read-only, or read-write
  // creating it when writable, or read-only when writable but this process may only read it)
  // and kept; the platform's IOError propagates.
  File& text();
  // Throws the reason a writable fortune file's text could not be opened for writing, if it
  // could not.
  void requireWritableText();
  // The text file's size: asked of the open handle, or of the path when it is not open.
  std::int64_t textSize();

  // Takes the advisory lock on the text file, opening it first, for the rest of the operation;
  // a stronger lock held already is kept. An exclusive lock of a writable fortune file also
  // makes sure that the file open here is the one at the path: when the path names another
  // file (replaced by a rename) or none, this one is closed and the path opened again.
  void lock(LockMode mode);

  // The index, obtained on first use by the rules of getIndex.
  const Index& index();
  // The index if the cell holds one, without obtaining it.
  [[nodiscard]] const Index* openIndex() const noexcept { return std::get_if<Index>(&index_); }
  // Puts `index` in the index cell; the index it held, if another one, is closed.
  void setIndex(const Index& index);

  // What the text cell held when the operation began, for putting it back on failure.
  [[nodiscard]] bool textWasOpen() const noexcept { return textWasOpen_; }
  // NOLINTNEXTLINE(bugprone-exception-escape): the locks it takes throw only on re-entry
  void dropText() noexcept;

 private:
  friend void withAccess(const FortuneFile& file, FunctionRef<void(Access&)> action);
  Access(FortuneFile::State& state, TextCell& text, IndexCell& index)
      : state_(state), text_(text), index_(index) {}

  FortuneFile::State& state_;
  TextCell& text_;
  IndexCell& index_;
  bool textWasOpen_ = std::holds_alternative<OpenText>(text_);
  std::optional<LockMode> lockMode_;
  // Declared last, so that it is released before anything else goes.
  std::unique_ptr<FileLock> lock_;
};

// Runs `action` holding both cells' locks (the text cell's, then the index cell's). Throws
// "Fortune file is closed" when closed.
void withAccess(const FortuneFile& file, FunctionRef<void(Access&)> action) TM_EXCLUDES_CELLS(file);

// The index of a fortune file whose cell holds none yet, by the rules of getIndex.
Index obtainIndex(Access& access);

// An index built in memory from the text, read under a shared lock so that no writer is half
// way through it.
Index indexInMemory(Access& access);

// True when the index's fortunes end beyond the end of the text: the text was cut or replaced
// since the index was made, and its offsets can no longer be trusted.
bool reachesPastText(const Index& index, Access& access);

// Replaces an index that no longer describes the text, or was found wrong for it (see
// Trust.hpp), as a first use would: a writer rebuilds its index file, a reader indexes the text
// in memory.
void replaceUntrustedIndex(Access& access);

// Throws a UsageError naming `operation` for a delimiter that cannot separate fortunes: a
// newline, or a value that is not a Unicode scalar value.
void requireUsableDelimiter(const char* operation, char32_t delimiter);

// Throws UsageError "Fortune file is closed".
[[noreturn]] void throwClosed();

}  // namespace detail

}  // namespace tallowmere
