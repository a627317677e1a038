// Opening and closing fortune files, the access every operation works through, and how a
// handle obtains its index.
#include <cerrno>
#include <exception>
#include <optional>
#include <utility>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Scan.hpp"
#include "Data/Fortune/FortuneFile/Storage.hpp"
#include "Data/Fortune/FortuneFile/Trust.hpp"
#include "Data/Fortune/FortuneFile/Utf8.hpp"
#include "Data/Fortune/Index/State.hpp"

namespace tallowmere {

namespace {

std::string indexPathOf(const std::string& textPath) { return textPath + ".ix"; }

// The path as a double-quoted string literal: backslash and double quote are escaped, other
// control characters and everything outside ASCII are written as a backslash and the decimal
// code point, with "\&" after such an escape when a digit follows, so that the text stays
// unambiguous. A byte that is not part of valid UTF-8 is written as the code point 0xDC00 plus
// the byte, so that different paths always read differently.
std::string quotePath(std::string_view path) {
  std::string out = "\"";
  bool afterNumericEscape = false;
  while (!path.empty()) {
    const detail::Utf8Char c = detail::decodeUtf8(path);
    const auto code = c.valid ? static_cast<std::uint32_t>(c.value)
                              : 0xDC00u + static_cast<unsigned char>(path[0]);
    const std::size_t length = c.valid ? c.length : 1;
    path.remove_prefix(length);
    const bool digit = code >= '0' && code <= '9';
    if (afterNumericEscape && digit) out += "\\&";
    afterNumericEscape = false;
    switch (code) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (code >= 0x20 && code < 0x7F) {
          out.push_back(static_cast<char>(code));
        } else {
          out.push_back('\\');
          out += std::to_string(code);
          afterNumericEscape = true;
        }
    }
  }
  out.push_back('"');
  return out;
}

void closeQuietly(const Index& index) noexcept {
  try {
    closeIndex(index);
  } catch (...) {  // nothing was written through it
  }
}

// A read-only fortune file: its index file if it can be opened and its header fits the text,
// else an index built in memory. If that fails as well, the reason the index file could not be used
// is the more useful one to report.
Index obtainReadOnly(detail::Access& access) {
  const FortuneFile::State& state = access.state();
  std::exception_ptr openError;
  try {
    // Looked at before it is opened: an index that replaces it meanwhile is only newer.
    const FileStatus indexStatus = state.env.status(state.indexPath);
    Index index = openIndex(state.indexPath, false, state.env);
    if (!detail::untrustedIndex(index, access) &&
        !detail::changedSinceIndex(index, indexStatus, state.env.status(state.path))) {
      return index;
    }
    closeQuietly(index);
  } catch (...) {
    openError = std::current_exception();
  }
  try {
    return detail::indexInMemory(access);
  } catch (...) {
    if (openError) std::rethrow_exception(openError);
    throw;
  }
}

// A writable fortune file: the index file as it is on disk, created empty when missing and
// rebuilt when its header does not fit the text; one too damaged to open is reported, not
// replaced.
Index obtainWritable(detail::Access& access) {
  const FortuneFile::State& state = access.state();
  if (detail::beginWrite(access)) {
    if (detail::untrustedIndex(access.index(), access) || detail::textChangedAfterIndex(access)) {
      detail::rebuildIndexFile(access);
    }
    return access.index();
  }
  if (state.env.status(state.indexPath).exists()) {
    // Opened again for the error it throws.
    access.setIndex(openIndex(state.indexPath, true, state.env));
    return access.index();
  }
  if (access.textSize() > detail::maxIndexedTextLength) {
    detail::throwTextTooLong(state.path);
  }
  access.setIndex(detail::writeIndexFile(
      state.env, state.indexPath, [](const Index&) {}, false, state.path));
  return access.index();
}

}  // namespace

FortuneFile::State::State(std::string path_, char32_t delimiter_, bool writable_,
                          const FortuneFileOptions& options)
    : path(std::move(path_)),
      indexPath(indexPathOf(path)),
      delimiter(delimiter_),
      writable(writable_),
      env(*options.env),
      syncWrites(options.sync),
      scanThreads(options.scanThreads),
      text("fortune text file", detail::NotYetOpened{}),
      index("fortune file's index", detail::NotYetOpened{}) {}

const std::string& FortuneFile::fortunePath() const noexcept { return state_->path; }
char32_t FortuneFile::fortuneDelim() const noexcept { return state_->delimiter; }
bool FortuneFile::fortuneWritable() const noexcept { return state_->writable; }

void detail::requireUsableDelimiter(const char* operation, char32_t delimiter) {
  // A newline delimiter would make every line break a separator line and the counts
  // meaningless; a value UTF-8 cannot encode could never be found in the text.
  if (delimiter == U'\n' || !isScalarValue(delimiter)) {
    throw UsageError(std::string(operation) +
                     ": the delimiter must be a Unicode character other than newline");
  }
}

FortuneFile openFortuneFile(char32_t delimiter, bool writable, const std::string& path,
                            const FortuneFileOptions& options) {
  detail::requireUsableDelimiter("openFortuneFile", delimiter);
  if (options.env == nullptr) throw UsageError("openFortuneFile: no Env given");
  if (!writable && !options.env->status(path).isFile()) {
    throw IOError::userError("openFortuneFile: file does not exist: " + quotePath(path), path,
                             ErrorReason::NotFound);
  }
  return detail::FortuneFileAccess::make(
      std::make_shared<FortuneFile::State>(path, delimiter, writable, options));
}

void closeFortuneFile(const FortuneFile& file) {
  // Each cell is marked closed even when closing its file fails, so that the fortune file is
  // dead either way and the index is still closed; the first failure is reported afterwards.
  std::exception_ptr failure;
  auto closeCell = [&failure](auto& cell, auto&& close) {
    typename std::remove_reference_t<decltype(cell)>::Held held(cell);
    auto& value = cell.value();
    if (std::holds_alternative<detail::Closed>(value)) detail::throwClosed();
    auto previous = std::exchange(value, detail::Closed{});
    try {
      close(previous);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  };
  FortuneFile::State& state = detail::FortuneFileAccess::state(file);
  closeCell(state.text, [](detail::TextCell& previous) {
    if (auto* open = std::get_if<detail::OpenText>(&previous)) open->file->close();
  });
  closeCell(state.index, [](detail::IndexCell& previous) {
    if (auto* index = std::get_if<Index>(&previous)) closeIndex(*index);
  });
  if (failure) std::rethrow_exception(failure);
}

std::string fortuneFilePath(const FortuneFile& file) { return file.fortunePath(); }

std::string fortuneIndexPath(const FortuneFile& file) {
  return detail::FortuneFileAccess::state(file).indexPath;
}

Index getIndex(const FortuneFile& file) {
  std::optional<Index> result;
  detail::withAccess(file, [&](detail::Access& access) { result = access.index(); });
  return *result;
}

namespace detail {

void throwClosed() { throw UsageError("Fortune file is closed"); }

File& Access::text() {
  if (auto* open = std::get_if<OpenText>(&text_)) return *open->file;
  OpenText opened;
  if (!state_.writable) {
    opened.file = state_.env.openFile(state_.path, OpenMode::ReadOnly);
  } else {
    try {
      opened.file = state_.env.openFile(state_.path, OpenMode::ReadWrite);
    } catch (const IOError& error) {
      const int code = error.errorCode();
      if (code != EACCES && code != EPERM && code != EROFS) throw;
      opened.file = state_.env.openFile(state_.path, OpenMode::ReadOnly);
      opened.writeError = code;
    }
  }
  text_ = opened;
  return *opened.file;
}

void Access::requireWritableText() {
  text();
  if (const int error = std::get<OpenText>(text_).writeError; error != 0) {
    throw IOError::system(error, state_.path, "open for writing");
  }
}

std::int64_t Access::textSize() {
  if (auto* open = std::get_if<OpenText>(&text_)) return open->file->size();
  return state_.env.status(state_.path).size;
}

void Access::lock(LockMode mode) {
  if (lockMode_ == mode || lockMode_ == LockMode::Exclusive) return;
  // Neither kind of lock becomes the other in one step; the weaker one is let go first.
  lock_.reset();
  lockMode_.reset();
  for (int attempt = 0;; ++attempt) {
    File& file = text();
    lock_ = state_.env.lockFile(file, mode);
    lockMode_ = mode;
    if (!state_.writable || mode == LockMode::Shared) return;
    const FileStatus atPath = state_.env.status(state_.path);
    if (atPath.exists() && atPath.identity == file.identity()) return;
    // The path names another file now, or none: the one open here is no longer the fortune
    // file, and writing to it would lose the fortune. Open the path again.
    if (attempt == 100) {
      throw IOError::system(ESTALE, state_.path, "the text file keeps being replaced; lock");
    }
    dropText();
  }
}

const Index& Access::index() {
  if (const Index* open = openIndex()) return *open;
  setIndex(obtainIndex(*this));
  return std::get<Index>(index_);
}

void Access::setIndex(const Index& index) {
  if (const Index* open = openIndex();
      open != nullptr && &detail::IndexAccess::state(*open) != &detail::IndexAccess::state(index)) {
    closeQuietly(*open);
  }
  index_ = index;
}

// NOLINTNEXTLINE(bugprone-exception-escape): the locks it takes throw only on re-entry
void Access::dropText() noexcept {
  // The lock belongs to the file and goes first.
  lock_.reset();
  lockMode_.reset();
  if (auto* open = std::get_if<OpenText>(&text_)) {
    try {
      open->file->close();
    } catch (...) {  // it was only read, or its writes were synced or undone
    }
  }
  text_ = NotYetOpened{};
}

void withAccess(const FortuneFile& file, FunctionRef<void(Access&)> action) {
  FortuneFile::State& state = detail::FortuneFileAccess::state(file);
  Guarded<TextCell>::Held textLock(state.text);
  if (std::holds_alternative<Closed>(state.text.value())) throwClosed();
  Guarded<IndexCell>::Held indexLock(state.index);
  if (std::holds_alternative<Closed>(state.index.value())) throwClosed();
  Access access(state, state.text.value(), state.index.value());
  try {
    action(access);
  } catch (...) {
    if (!access.textWasOpen()) access.dropText();
    throw;
  }
}

bool reachesPastText(const Index& index, Access& access) {
  const FortuneStats stats = getStats(index);
  return stats.numFortunes > 0 && stats.offsetAfter > access.textSize();
}

void replaceUntrustedIndex(Access& access) {
  if (access.state().writable) {
    beginWrite(access);
    rebuildIndexFile(access);
  } else {
    access.setIndex(indexInMemory(access));
  }
}

Index indexInMemory(Access& access) {
  access.lock(LockMode::Shared);
  Index index = createVirtualIndex();
  rebuildIndex(access.state().delimiter, access.text(), index);
  return index;
}

Index obtainIndex(Access& access) {
  return access.state().writable ? obtainWritable(access) : obtainReadOnly(access);
}

}  // namespace detail

}  // namespace tallowmere
