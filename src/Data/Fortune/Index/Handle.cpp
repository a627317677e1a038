#include "Data/Fortune/Index/Handle.hpp"

#include <algorithm>
#include <cerrno>
#include <exception>

#include "Data/Fortune/Index/Entries.hpp"
#include "Data/Fortune/Index/State.hpp"
#include "Platform/Errors.hpp"

namespace tallowmere {
namespace {

[[noreturn]] void throwClosed() { throwProblem(IndexProblem::AccessToClosedIndex()); }

// True when a file of `size` bytes holds the whole table of a header whose count is not
// negative; written so that no product can overflow.
bool tableFits(const Header& header, std::int64_t size) {
  return size >= header.indexLoc &&
         (size - header.indexLoc) / indexEntryLength >= header.stats.numFortunes;
}

// A header read from an opened file and what opening made of it.
struct OpenedHeader {
  Header header;
  bool repaired;  // the statistics were rebuilt in memory; the file still holds the old ones
};

// The shared steps of opening: gives a writable, empty file the empty header, then reads,
// checks and (for bad statistics) repairs the header.
OpenedHeader readHeaderForOpening(File& file, bool writable) {
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

Index openIndexAt(std::shared_ptr<File> file, bool writable, std::string path, Env* env) {
  const OpenedHeader opened = readHeaderForOpening(*file, writable);
  return Index(std::make_shared<Index::State>(std::move(file), opened.header, opened.repaired,
                                              std::move(path), env, writable));
}

// The path of the file that a new index is written to before it is renamed over `path`:
// hidden, so that listing a directory never takes it for a fortune file, and always the same,
// so that a file left by a crash is reused by the next writer (who holds the fortune file's
// lock, as every writer of the index does).
std::string temporaryPathFor(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, base) + "." + path.substr(base) + ".tmp";
}

// The new index file, filled, durable and renamed over `path`. The temporary file is removed
// again when a step fails.
struct WrittenIndex {
  std::shared_ptr<File> file;
  Header header;
};

WrittenIndex writeBeside(Env& env, const std::string& path, FunctionRef<void(const Index&)> fill) {
  const std::string temporary = temporaryPathFor(path);
  std::shared_ptr<File> file = env.openFile(temporary, OpenMode::Truncate);
  try {
    const Index fresh = openIndexAt(file, true, std::string(), nullptr);
    fill(fresh);
    const Header header = fresh.state().header.get().value();
    file->sync();
    env.renameFile(temporary, path);
    // Durable from here on: the rename is in the directory, which is synced next. A failure
    // to sync leaves the new file in place, where the next reader finds it whole.
    env.syncDirectory(parentDirectory(path));
    return {std::move(file), header};
  } catch (...) {
    try {
      if (env.status(temporary).exists()) env.removeFile(temporary);
    } catch (...) {  // the failure that stopped the write is the one to report
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
  return openIndexAt(env.openFile(path, writable ? OpenMode::ReadWrite : OpenMode::ReadOnly),
                     writable, path, &env);
}

Index createVirtualIndex() { return openIndex(createMemoryFile("<createVirtualIndex>"), true); }

void closeIndex(const Index& index) {
  Index::State& state = index.state();
  // The file is closed before the lock is taken, so that an operation holding the lock fails
  // at its next access instead of being waited for.
  std::exception_ptr failure;
  try {
    state.file()->close();
  } catch (...) {
    failure = std::current_exception();
  }
  std::shared_ptr<File> current;
  state.header.with([&](std::optional<Header>& header) {
    header.reset();
    current = state.file();  // a rebuild may have put a new file behind the handle meanwhile
  });
  try {
    current->close();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
}

FortuneStats getStats(const Index& index) {
  const std::optional<Header> header = index.state().header.get();
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
  Index::State& state = index.state();
  state.header.with([&](std::optional<Header>& header) {
    const std::shared_ptr<File> file = state.file();
    action(*file, CurrentHeader(header));
    if (!header) throwClosed();
    if (const auto problem = checkIndex_(*file, *header)) throwProblem(*problem);
  });
}

void modifyHeaderThen(const Index& index, FunctionRef<Header(File&, const CurrentHeader&)> update,
                      FunctionRef<void(File&)> afterWrite) {
  Index::State& state = index.state();
  state.header.with([&](std::optional<Header>& header) {
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
    header = next;
    state.storedHeaderDiffers = false;
  });
}

Index writeIndexFile(Env& env, const std::string& path, FunctionRef<void(const Index&)> fill) {
  WrittenIndex written = writeBeside(env, path, fill);
  return Index(std::make_shared<Index::State>(std::move(written.file), written.header, false, path,
                                              &env, true));
}

void replaceIndex(const Index& index, FunctionRef<void(const Index&)> fill) {
  Index::State& state = index.state();
  if (state.path.empty()) {
    clearIndex(index);
    fill(index);
    return;
  }
  state.header.with([&](std::optional<Header>& header) {
    if (!header) throwClosed();
    if (!state.writable) throw IOError::system(EBADF, state.path, "write");
    WrittenIndex written = writeBeside(*state.env, state.path, fill);
    const std::shared_ptr<File> old = state.file();
    state.replaceFile(std::move(written.file));
    header = written.header;
    state.storedHeaderDiffers = false;
    try {
      old->close();
    } catch (...) {  // nothing was written through it that a failing close could lose
    }
  });
}

void reopenIndex(const Index& index, bool writable) {
  Index::State& state = index.state();
  if (state.path.empty()) return;
  state.header.with([&](std::optional<Header>& header) {
    if (!header) throwClosed();
    std::shared_ptr<File> file =
        state.env->openFile(state.path, writable ? OpenMode::ReadWrite : OpenMode::ReadOnly);
    const OpenedHeader opened = readHeaderForOpening(*file, writable);
    const std::shared_ptr<File> old = state.file();
    state.replaceFile(std::move(file));
    header = opened.header;
    state.storedHeaderDiffers = opened.repaired;
    try {
      old->close();
    } catch (...) {  // nothing was written through it that a failing close could lose
    }
  });
}

const std::string& indexPath(const Index& index) noexcept { return index.state().path; }

void syncIndex(const Index& index) {
  withIndexLocked(index, [](File& file, const CurrentHeader&) { file.sync(); });
}

}  // namespace detail

void modifyHeader(const Index& index, FunctionRef<Header(File&, const CurrentHeader&)> update) {
  detail::modifyHeaderThen(index, update, [](File&) {});
}

}  // namespace tallowmere
