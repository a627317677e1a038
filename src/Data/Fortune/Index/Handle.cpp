#include <tallowmere/Data/Fortune/Index/Handle.hpp>

#include <algorithm>
#include <cerrno>
#include <exception>

#include <tallowmere/Data/Fortune/Index/Entries.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/Index/State.hpp"

namespace tallowmere {
namespace {

[[noreturn]] void throwClosed() { throwProblem(IndexProblem::AccessToClosedIndex()); }

// True when a file of `size` bytes holds the whole table of a header whose count is not
// negative; written so that no product can overflow.
bool tableFits(const Header& header, std::int64_t size) {
  return size >= header.indexLoc &&
         (size - header.indexLoc) / indexEntryLength >= header.stats.numFortunes;
}

}  // namespace

detail::OpenedHeader detail::readHeaderForOpening(File& file, bool writable) {
  if (writable && file.size() == 0) {
    try {
      file.writeAt(0, encodeHeader(emptyHeader));
    } catch (...) {
      // Part of a header would make the file unopenable for good ("too few bytes"); empty, it
      // gets its header at the next opening.
      try {
        file.setSize(0);
      } catch (...) {  // the write's own failure is the one to report
      }
      throw;
    }
  }
  Header header = decodeHeader(file.readAt(0, static_cast<std::size_t>(indexHeaderLength)));
  if (header.indexLoc < indexHeaderLength) {
    throwProblem(IndexProblem::HeaderProblem(HeaderProblem::TableStartsBeforeHeaderEnds()));
  }
  const bool repaired = !statsAreValid(header.stats);
  if (repaired) {
    // Repaired in memory only: opening never writes. The next header update stores it.
    header = scanStats(file, header);
  }
  // Checked after a repair too: a repaired empty table may still start beyond the file's end.
  if (!tableFits(header, file.size())) throwProblem(IndexProblem::TableLongerThanFile());
  return {header, repaired};
}

namespace {

Index openIndexAt(std::shared_ptr<File> file, bool writable, std::string path, Env* env,
                  int writeError = 0) {
  const detail::OpenedHeader opened = detail::readHeaderForOpening(*file, writable);
  return detail::IndexAccess::make(std::make_shared<Index::State>(
      std::move(file), opened.header, opened.repaired, std::move(path), env, writable, writeError));
}

// The index file at `path`, opened for reading or for writing. A writer never opens it through a
// symbolic link: one planted there could lead to a file of the writer's own.
std::unique_ptr<File> openIndexFile(Env& env, const std::string& path, bool writable) {
  if (!writable) return env.openFile(path, OpenMode::ReadOnly);
  try {
    return env.openFile(path, OpenMode::ReadWriteNoFollow);
  } catch (const IOError& error) {
    if (error.errorCode() == ELOOP && env.linkStatus(path).kind == FileKind::SymbolicLink) {
      throw symbolicLinkRefused(path);
    }
    throw;
  }
}

}  // namespace

Index openIndex(std::unique_ptr<File> file, bool writable) {
  return openIndexAt(std::move(file), writable, std::string(), nullptr);
}

const Header& CurrentHeader::get() const {
  if (!header_) throwClosed();
  return *header_;
}

Index openIndex(const std::string& path, bool writable, Env& env) {
  return detail::ProblemPaths::about(
      path, [&] { return openIndexAt(openIndexFile(env, path, writable), writable, path, &env); });
}

namespace detail {

bool isPermissionError(const IOError& error) noexcept {
  const int code = error.errorCode();
  return !error.isUserError() && (code == EACCES || code == EPERM || code == EROFS);
}

Index openIndexForWriting(const std::string& path, Env& env) {
  try {
    return openIndex(path, true, env);
  } catch (const IOError& error) {
    if (!isPermissionError(error)) throw;
    const int code = error.errorCode();
    return ProblemPaths::about(path, [&] {
      return openIndexAt(env.openFile(path, OpenMode::ReadOnly), false, path, &env, code);
    });
  }
}

bool isWritableIndex(const Index& index) noexcept {
  return detail::IndexAccess::state(index).writable;
}

void requireWritableIndex(const Index& index) {
  const Index::State& state = detail::IndexAccess::state(index);
  if (state.writable) return;
  if (state.writeError != 0)
    throw IOError::system(state.writeError, state.path, "open for writing");
  throw IOError::system(EBADF, state.path, "write");
}

}  // namespace detail

Index createVirtualIndex() { return openIndex(createMemoryFile("<createVirtualIndex>"), true); }

void closeIndex(const Index& index) {
  Index::State& state = detail::IndexAccess::state(index);
  // The file is closed before the lock is taken, so that an operation holding the lock fails
  // at its next access instead of being waited for.
  std::exception_ptr failure;
  try {
    state.file()->close();
  } catch (...) {
    failure = std::current_exception();
  }
  std::shared_ptr<File> current;
  {
    detail::HeaderLock held(state.header);
    current = state.file();  // a rebuild may have put a new file behind the handle meanwhile
    state.header.value().reset();
  }
  try {
    current->close();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
}

FortuneStats getStats(const Index& index) {
  const std::optional<Header> header = detail::IndexAccess::state(index).header.get();
  if (!header) throwClosed();
  return header->stats;
}

std::optional<IndexProblem> checkIndex_(File& file, const Header& header) {
  if (header.indexLoc < indexHeaderLength) {
    return IndexProblem::HeaderProblem(HeaderProblem::TableStartsBeforeHeaderEnds());
  }
  if (const auto problem = checkStats(header.stats)) {
    return IndexProblem::HeaderProblem(HeaderProblem::StatsProblem(*problem));
  }
  if (!tableFits(header, file.size())) return IndexProblem::TableLongerThanFile();
  return std::nullopt;
}

Header scanStats(File& file, const Header& header) {
  constexpr std::int64_t kBatch = 256;
  const std::int64_t count = header.stats.numFortunes;
  FortuneStats stats = FortuneStats::mempty;
  std::int64_t at = header.indexLoc;
  for (std::int64_t done = 0; done < count; done += kBatch) {
    const std::int64_t batch = std::min(kBatch, count - done);
    const std::string bytes = file.readAt(at, static_cast<std::size_t>(batch * indexEntryLength));
    at += batch * indexEntryLength;
    std::size_t position = 0;
    for (std::int64_t i = 0; i < batch; ++i) {
      const auto [entry, next] = decodeIndexEntry(bytes, position);
      stats += indexEntryStats(entry);
      position = next;
    }
  }
  return {stats, header.indexLoc};
}

namespace detail {

void withIndexLocked(const Index& index, FunctionRef<void(File&, const CurrentHeader&)> action) {
  Index::State& state = detail::IndexAccess::state(index);
  HeaderLock held(state.header);
  const std::optional<Header>& header = state.header.value();
  const std::shared_ptr<File> file = state.file();
  action(*file, CurrentHeader(header));
  if (!header) throwClosed();
  if (const auto problem = checkIndex_(*file, *header)) throwProblem(*problem);
}

void modifyHeaderThen(const Index& index, FunctionRef<Header(File&, const CurrentHeader&)> update,
                      FunctionRef<void(File&)> afterWrite) {
  Index::State& state = detail::IndexAccess::state(index);
  HeaderLock held(state.header);
  std::optional<Header>& header = state.header.value();
  const std::shared_ptr<File> file = state.file();
  const Header next = update(*file, CurrentHeader(header));
  if (!header) throwClosed();
  // Validate before writing, so that a failed change never leaves a header on disk that
  // the next opening would reject.
  if (const auto problem = checkIndex_(*file, next)) throwProblem(*problem);
  if (next != *header || state.storedHeaderDiffers) {
    state.storedHeaderDiffers = true;  // until the new header is stored and current
    file->writeAt(0, encodeHeader(next));
  }
  afterWrite(*file);
  // Only now, when nothing can fail any more, does the new header become current.
  header = next;
  state.storedHeaderDiffers = false;
}

void reopenIndex(const Index& index, bool writable) {
  Index::State& state = detail::IndexAccess::state(index);
  if (state.path.empty()) return;
  HeaderLock held(state.header);
  std::optional<Header>& header = state.header.value();
  if (!header) throwClosed();
  std::shared_ptr<File> file = openIndexFile(*state.env, state.path, writable);
  const OpenedHeader opened =
      ProblemPaths::about(state.path, [&] { return readHeaderForOpening(*file, writable); });
  const bool sameTable = file->identity() == state.file()->identity() &&
                         opened.header.stats.numFortunes >= header->stats.numFortunes;
  // Nothing below fails, so the handle gets the new file and header together or neither.
  const std::shared_ptr<File> old = state.file();
  state.replaceFile(std::move(file));
  if (!sameTable) state.checkedEntries = 0;
  header = opened.header;
  state.storedHeaderDiffers = opened.repaired;
  try {
    old->close();
  } catch (...) {  // nothing was written through it that a failing close could lose
  }
}

std::int64_t checkedEntries(const Index& index) {
  Index::State& state = detail::IndexAccess::state(index);
  HeaderLock held(state.header);
  return state.checkedEntries;
}

void setCheckedEntries(const Index& index, std::int64_t count) {
  Index::State& state = detail::IndexAccess::state(index);
  HeaderLock held(state.header);
  state.checkedEntries = count;
}

const std::string& indexPath(const Index& index) noexcept {
  return detail::IndexAccess::state(index).path;
}

void syncIndex(const Index& index) {
  withIndexLocked(index, [](File& file, const CurrentHeader&) { file.sync(); });
}

}  // namespace detail

void modifyHeader(const Index& index, FunctionRef<Header(File&, const CurrentHeader&)> update) {
  detail::modifyHeaderThen(index, update, [](File&) {});
}

}  // namespace tallowmere
