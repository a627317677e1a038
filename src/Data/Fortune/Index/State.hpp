// The shared state behind an Index handle (internal), and the operations that replace the
// file behind an index whole.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <tallowmere/Data/Fortune/Index/Entries.hpp>
#include <tallowmere/Data/Fortune/Index/Handle.hpp>
#include <tallowmere/Platform/Env.hpp>
#include "Platform/Guarded.hpp"

namespace tallowmere {

namespace detail {
// Names the index file in a failure raised while reading it by a layer that knew only bytes:
// an index problem gets the path, a decoding failure (too few bytes) the path and the reason
// DamagedIndex. Everything else passes unchanged.
struct ProblemPaths {
  static void attach(IndexProblemError& error, const std::string& path);
  template <class Action>
  static decltype(auto) about(const std::string& path, Action&& action);
};
}  // namespace detail

struct Index::State {
  State(std::shared_ptr<File> indexFile, const Header& current, bool storedDiffers,
        std::string filePath, Env* fileEnv, bool isWritable, int whyReadOnly = 0)
      : path(std::move(filePath)),
        env(fileEnv),
        writable(isWritable),
        writeError(whyReadOnly),
        header("index", current),
        storedHeaderDiffers(storedDiffers),
        file_(std::move(indexFile)) {}

  // The file in use. Operations take it under the header's lock, so that a replacement (also
  // made under that lock) never changes it in the middle of one; closeIndex takes it without.
  std::shared_ptr<File> file() const TM_EXCLUDES(fileMutex_) {
    detail::MutexLock lock(fileMutex_);
    return file_;
  }
  void replaceFile(std::shared_ptr<File> next) TM_REQUIRES(header) TM_EXCLUDES(fileMutex_) {
    detail::MutexLock lock(fileMutex_);
    file_ = std::move(next);
  }

  // Where the index file lives and the Env it was opened through; an empty path for an index in
  // memory or over a file the caller opened.
  const std::string path;
  Env* const env;
  // Whether the file was opened for writing; an index opened read-only is never replaced, and
  // is never written to. For an index that a writer opened read-only because opening it for
  // writing was refused (openIndexForWriting), the errno of that refusal, else 0.
  const bool writable;
  const int writeError;
  // The current header; no value once the index is closed. Its lock is the index's lock, the
  // one every operation takes; it comes after a fortune file's cells (see FortuneFile::State).
  detail::Guarded<std::optional<Header>> header;
  // True while the header stored in the file may differ from the current one: opening
  // repaired the statistics in memory, or a header update failed while writing. The next
  // update then writes its header even if it changes nothing.
  bool storedHeaderDiffers TM_GUARDED_BY(header);
  // How many leading entries of the table in the current file a writer has found sound for its
  // text (see checkedEntries); 0 again when another file takes its place.
  std::int64_t checkedEntries TM_GUARDED_BY(header) = 0;

 private:
  // Taken alone, or inside the header's lock, never the other way round.
  mutable detail::Mutex fileMutex_ TM_ACQUIRED_AFTER(header){"index file"};
  std::shared_ptr<File> file_ TM_GUARDED_BY(fileMutex_);
};

namespace detail {

// The library's way in to an Index: its shared state, and a new handle on a state.
struct IndexAccess {
  static Index::State& state(const Index& index) noexcept { return *index.state_; }
  static Index make(std::shared_ptr<Index::State> state) noexcept {
    return Index(std::move(state));
  }
};

}  // namespace detail

// The public operations that take the index's lock, declared again with what the analysis
// needs (the public headers cannot name a lock inside the incomplete State): none may be
// called by a thread that holds the lock. Keep these in step with Index/Handle.hpp and
// Index/Entries.hpp.
void closeIndex(const Index& index) TM_EXCLUDES(detail::IndexAccess::state(index).header);
FortuneStats getStats(const Index& index) TM_EXCLUDES(detail::IndexAccess::state(index).header);
void modifyHeader(const Index& index, FunctionRef<Header(File&, const CurrentHeader&)> update)
    TM_EXCLUDES(detail::IndexAccess::state(index).header);
IndexEntry getEntry(const Index& index, std::int64_t i)
    TM_EXCLUDES(detail::IndexAccess::state(index).header);
std::vector<IndexEntry> getEntries(const Index& index)
    TM_EXCLUDES(detail::IndexAccess::state(index).header);
std::vector<IndexEntry> getEntries(const Index& index, std::int64_t first, std::int64_t count)
    TM_EXCLUDES(detail::IndexAccess::state(index).header);
void appendEntries(const Index& index, std::span<const IndexEntry> entries)
    TM_EXCLUDES(detail::IndexAccess::state(index).header);
void appendEntry(const Index& index, const IndexEntry& entry)
    TM_EXCLUDES(detail::IndexAccess::state(index).header);
void unfoldEntries(const Index& index, FunctionRef<std::optional<IndexEntry>()> next)
    TM_EXCLUDES(detail::IndexAccess::state(index).header);
void unfoldEntryBatches(const Index& index, FunctionRef<std::span<const IndexEntry>()> next)
    TM_EXCLUDES(detail::IndexAccess::state(index).header);
void clearIndex(const Index& index) TM_EXCLUDES(detail::IndexAccess::state(index).header);
std::optional<IndexProblem> checkIndex(const Index& index)
    TM_EXCLUDES(detail::IndexAccess::state(index).header);
void rebuildStats(const Index& index) TM_EXCLUDES(detail::IndexAccess::state(index).header);

namespace detail {

void withIndexLocked(const Index& index, FunctionRef<void(File&, const CurrentHeader&)> action)
    TM_EXCLUDES(detail::IndexAccess::state(index).header);

// Holds an index's lock: `HeaderLock held(state.header);`, then state.header.value().
using HeaderLock = Guarded<std::optional<Header>>::Held;

// modifyHeader, with `afterWrite` run on the file once the new header is stored and before it
// becomes current. Should afterWrite fail, the current header stays the old one and the stored
// one is marked as differing, to be rewritten by the next update.
void modifyHeaderThen(const Index& index, FunctionRef<Header(File&, const CurrentHeader&)> update,
                      FunctionRef<void(File&)> afterWrite)
    TM_EXCLUDES(detail::IndexAccess::state(index).header);

// A header read from an opened file and what opening made of it.
struct OpenedHeader {
  Header header;
  bool repaired;  // the statistics were rebuilt in memory; the file still holds the old ones
};

// The steps of opening an index file: gives a writable, empty file the empty header, then
// reads, checks and (for bad statistics) repairs the header.
OpenedHeader readHeaderForOpening(File& file, bool writable);

// Byte offset just past the table that `header` describes.
inline std::int64_t tableEnd(const Header& header) {
  return header.indexLoc + indexEntryLength * header.stats.numFortunes;
}

// Fills a new index, in a file beside `path`, with `fill` (which appends its entries to the
// Index it is given), makes it durable and renames it over `path`, so that a reader of `path`
// sees the old file or the new one, never a part of either, and a failure or crash at any
// step leaves the old file as it was. Returns the new index, open at `path`. With
// `syncInThread`, a long new table is synced by a thread while it is written (see
// SyncBehind in Replace.cpp); the library starts threads only where its caller allows them.
// The file beside is made by createReplacementFile (Env.hpp): it gets the mode and group of
// the file at `path`, or of `model` (the text) when there is none, and a symbolic link at
// `path` is refused.
Index writeIndexFile(Env& env, const std::string& path, FunctionRef<void(const Index&)> fill,
                     bool syncInThread = false, const std::string& model = {});

// The same for an open index that lives at a path: under its lock, the new file replaces the
// old one on disk and behind the handle, with its header. An index without a path is cleared
// and refilled in place instead. An index opened read-only is refused (IOError, EBADF), except
// one that a writer could only read (openIndexForWriting): that one is compared with what
// the fill writes, and a fill that writes it unchanged succeeds without writing anything,
// while one that would change it fails with the error that opening it for writing met.
void replaceIndex(const Index& index, FunctionRef<void(const Index&)> fill,
                  bool syncInThread = false, const std::string& model = {})
    TM_EXCLUDES(detail::IndexAccess::state(index).header);

// Whether `error` is the platform refusing this process a change: EACCES, EPERM, EROFS.
bool isPermissionError(const IOError& error) noexcept;

// openIndex(path, true, env), for a writer that may meet an index this process may only read:
// when opening it for writing is refused (EACCES, EPERM, EROFS), it is opened read-only, and
// the Index remembers why. Such an index serves as long as nothing needs writing; see
// replaceIndex and requireWritableIndex.
Index openIndexForWriting(const std::string& path, Env& env);

// Whether `index` was opened for writing.
bool isWritableIndex(const Index& index) noexcept;

// Throws, for an index that was not opened for writing, why it cannot be written: the error
// that opening it for writing met ("<path>: open for writing: Permission denied"), or EBADF.
void requireWritableIndex(const Index& index);

// Opens the index file at the index's path again (writable or not) and makes it the file and
// header behind the handle, so that the handle sees what other processes have made of it.
// Throws what openIndex throws, leaving the handle as it was. Does nothing for an index
// without a path.
void reopenIndex(const Index& index, bool writable)
    TM_EXCLUDES(detail::IndexAccess::state(index).header);

// How many leading entries of the index's current file a writer has checked against its text
// and found sound, so that it checks only the entries added since; the count is forgotten when
// reopenIndex finds another file at the path, or a shorter table.
std::int64_t checkedEntries(const Index& index)
    TM_EXCLUDES(detail::IndexAccess::state(index).header);
void setCheckedEntries(const Index& index, std::int64_t count)
    TM_EXCLUDES(detail::IndexAccess::state(index).header);

// Where the index lives on disk, and its Env; an empty path for an index in memory.
const std::string& indexPath(const Index& index) noexcept;

// Makes what was written to the index's file durable.
void syncIndex(const Index& index) TM_EXCLUDES(detail::IndexAccess::state(index).header);

}  // namespace detail
template <class Action>
decltype(auto) detail::ProblemPaths::about(const std::string& path, Action&& action) {
  try {
    return std::forward<Action>(action)();
  } catch (IndexProblemError& error) {
    attach(error, path);
    throw;
  } catch (const IOError& error) {
    if (path.empty() || !error.isUserError() || !error.path().empty()) throw;
    throw error.about(path, ErrorReason::DamagedIndex);
  }
}

}  // namespace tallowmere
