// Env: every operation of the library on the file system goes through one of these.
//
// Env::disk() is the real file system and the default everywhere. MemoryEnv (MemoryEnv.hpp) is
// its in-memory twin, which can also lose what was never synced, as a machine that loses power
// does. Tests put an Env of their own in between to make any step fail.
//
// Locks are advisory and belong to an open file (as flock's do): a shared lock admits other
// shared locks, an exclusive lock admits nothing else, whether the other holder is another
// process or another open file of this one. A FileLock releases its lock when destroyed; the
// file must stay open until then, and closing the file releases the lock too.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <tallowmere/Platform/File.hpp>

namespace tallowmere {

enum class FileKind { Missing, Regular, Directory, Other };

// What a path names, links followed.
struct FileStatus {
  FileKind kind = FileKind::Missing;
  FileIdentity identity;
  std::int64_t size = 0;
  // When its contents last changed: nanoseconds since the epoch on disk; a count of changes in
  // a MemoryEnv. Only compared for equality, to notice a change.
  std::int64_t modified = 0;

  [[nodiscard]] bool exists() const noexcept { return kind != FileKind::Missing; }
  [[nodiscard]] bool isDirectory() const noexcept { return kind == FileKind::Directory; }
  // Anything that exists and is not a directory: a regular file, a device, a FIFO.
  [[nodiscard]] bool isFile() const noexcept { return exists() && !isDirectory(); }

  friend bool operator==(const FileStatus&, const FileStatus&) = default;
};

enum class LockMode { Shared, Exclusive };

class FileLock {
 public:
  virtual ~FileLock() = default;  // releases the lock
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
};

class Env {
 public:
  virtual ~Env() = default;
  Env() = default;
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  // The real file system, through POSIX calls. Lives as long as the program.
  [[nodiscard]] static Env& disk();

  // Fails with the platform's IOError (errno and path), also when the path is a directory.
  [[nodiscard]] virtual std::unique_ptr<File> openFile(const std::string& path, OpenMode mode) = 0;
  // What `path` names now. Never throws: a path that cannot be examined (missing, empty, no
  // permission) is Missing.
  [[nodiscard]] virtual FileStatus status(const std::string& path) noexcept = 0;
  // The names in a directory in the order the system returns them, "." and ".." included.
  [[nodiscard]] virtual std::vector<std::string> listDirectory(const std::string& path) = 0;
  // Replaces `to` with `from` in one step: another process sees the old file or the new one.
  // Durable once the directory is synced.
  virtual void renameFile(const std::string& from, const std::string& to) = 0;
  virtual void removeFile(const std::string& path) = 0;
  // Makes the directory's entries durable: files created, renamed or removed in it.
  virtual void syncDirectory(const std::string& path) = 0;
  // Waits until `file` (opened by this Env) holds the lock. Interrupted waits resume.
  [[nodiscard]] virtual std::unique_ptr<FileLock> lockFile(File& file, LockMode mode) = 0;
};

// The directory part of a path ("." when it has none), for syncing the directory that holds a
// file.
[[nodiscard]] std::string parentDirectory(const std::string& path);

// The file that a new version of `path` is written to before it is renamed over it: hidden,
// so that listing a directory never takes it for a fortune file ("dir/.name.tmp"), and always
// the same, so that one left by a crash is reused by the next writer (who must hold whatever
// lock keeps writers of `path` apart).
[[nodiscard]] std::string temporaryPathFor(const std::string& path);

// Replaces the file at `path` whole with `bytes`: written beside it, synced when `durable`,
// renamed over it, and its directory synced. Another process sees the old file or the new one;
// a failure or crash at any step leaves the old one. When the file holds `bytes` already,
// nothing is written.
void replaceFileWhole(Env& env, const std::string& path, std::string_view bytes, bool durable);

}  // namespace tallowmere
