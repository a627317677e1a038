// The state behind a FortuneFile and the guarded access to its two cells.
//
// Each cell is one lock and one value: not yet opened, open, or closed. Every operation that
// needs the index takes the text cell's lock first and the index cell's lock inside it, so
// the two locks are always taken in the same order, and an operation sees the index and the
// text as the last completed operation left them (a rebuild running on another thread is
// never seen half done). Taking the text cell's lock does not open the text file: HeldText
// opens it on first need, so that counting fortunes does not create a missing text file.
//
// On failure both cells get back the values they held before the operation: a handle or an
// index opened during a failed first use is dropped, and the next use opens it again.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "Data/Fortune/FortuneFile.hpp"
#include "Data/Fortune/FunctionRef.hpp"
#include "Platform/Guarded.hpp"

namespace tallowmere {

namespace detail {

struct NotYetOpened {};
struct Closed {};

using TextCell = std::variant<NotYetOpened, std::shared_ptr<File>, Closed>;
using IndexCell = std::variant<NotYetOpened, Index, Closed>;

// How a fortune file opens its text file and its index file (which openIndex then reads):
// openFile, unless a test puts a file of its own in between.
using FileOpener = std::function<std::unique_ptr<File>(const std::string& path, OpenMode mode)>;

// openFortuneFile, with every file of the fortune file opened through `opener`.
FortuneFile openFortuneFileWith(char32_t delimiter, bool writable, const std::string& path,
                                FileOpener opener);

}  // namespace detail

struct FortuneFile::State {
  State(std::string path, char32_t delimiter, bool writable, detail::FileOpener opener);

  const std::string path;
  const char32_t delimiter;
  const bool writable;
  const detail::FileOpener opener;
  detail::Guarded<detail::TextCell> text;
  detail::Guarded<detail::IndexCell> index;
};

namespace detail {

// The text cell while the calling thread holds its lock (never closed).
class HeldText {
 public:
  HeldText(const FortuneFile::State& state, TextCell& cell) : state_(state), cell_(cell) {}

  // The text file's handle. On the first use the file is opened (read-only, or read-write
  // creating it when writable) and stored in the cell; the platform's IOError propagates.
  File& file();

 private:
  const FortuneFile::State& state_;
  TextCell& cell_;
};

// Throws a UsageError naming `operation` for a delimiter that cannot separate fortunes: a
// newline, or a value that is not a Unicode scalar value.
void requireUsableDelimiter(const char* operation, char32_t delimiter);

// Throws UsageError "Fortune file is closed".
[[noreturn]] void throwClosed();

// Runs `action` holding the text cell's lock. Throws "Fortune file is closed" when closed.
void withTextCell(const FortuneFile& file, FunctionRef<void(HeldText&)> action);

// Runs `action` with the text file's handle, holding the text cell's lock; opens the text
// file on first use.
void withFortuneFile(const FortuneFile& file, FunctionRef<void(File&)> action);

// Runs `action` with the Index, holding the index cell's lock; the caller holds the text
// cell's lock and passes it as `text`. Opens the index on first use. When the index file
// cannot be opened, a writable fortune file fails with that error; a read-only one gets an
// index built in memory from the text, read through `text`, and only if that fails too does
// the opening error propagate.
void withIndexCell(const FortuneFile& file, HeldText& text, FunctionRef<void(const Index&)> action);

// withIndexCell inside withTextCell: both locks, in their order.
void withIndex(const FortuneFile& file, FunctionRef<void(HeldText&, const Index&)> action);

}  // namespace detail

}  // namespace tallowmere
