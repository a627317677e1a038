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
//
// Writing beside a text in a directory that others may write to. Another user may plant a
// symbolic link where a writer is about to write (at a temporary's name, or at the index's), so
// that the writer's bytes go to a file of the writer's own that the link points to. Files a
// writer keeps beside the text are therefore opened for writing with
// OpenMode::ReadWriteNoFollow, temporaries are new files under fresh names
// (createReplacementFile, OpenMode::CreateNew), and a symbolic link at the path of an index or
// data file is refused (symbolicLinkRefused), never written through nor replaced: not even one
// that points into the same directory, since the writer cannot tell who made it. A replacement
// keeps the mode and group of the file it replaces, whatever the umask.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <tallowmere/Platform/Errors.hpp>
#include <tallowmere/Platform/Export.hpp>
#include <tallowmere/Platform/File.hpp>

namespace tallowmere {

// SymbolicLink only from Env::linkStatus, which does not follow a link.
enum class FileKind { Missing, Regular, Directory, Other, SymbolicLink };

// What a path names, links followed (but see Env::linkStatus).
struct TALLOWMERE_API FileStatus {
  FileKind kind = FileKind::Missing;
  FileIdentity identity;
  std::int64_t size = 0;
  // The permission bits (0644, say: read, write and execute for owner, group and others).
  std::uint32_t mode = 0;
  // When its contents last changed: nanoseconds since the epoch on disk; in a MemoryEnv, a
  // tick of a clock that every change of every file advances. Compared for equality, to
  // notice a change, and between a text and its index, to tell which changed last.
  std::int64_t modified = 0;

  [[nodiscard]] bool exists() const noexcept { return kind != FileKind::Missing; }
  [[nodiscard]] bool isDirectory() const noexcept { return kind == FileKind::Directory; }
  // Anything that exists and is not a directory: a regular file, a device, a FIFO.
  [[nodiscard]] bool isFile() const noexcept { return exists() && !isDirectory(); }

  friend bool operator==(const FileStatus&, const FileStatus&) = default;
};

enum class LockMode { Shared, Exclusive };

class TALLOWMERE_API FileLock {
 public:
  virtual ~FileLock() = default;  // releases the lock
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
};

class TALLOWMERE_API Env {
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
  // The same without following a symbolic link at the last component of `path` (lstat): such
  // a link is SymbolicLink, whether or not it leads anywhere. Never throws.
  [[nodiscard]] virtual FileStatus linkStatus(const std::string& path) noexcept = 0;
  // Gives `file` (opened by this Env, for writing) the permission bits of the file at `model`,
  // links followed, and its group where this user may: a group the user does not belong to
  // (fchown with the group only failing with EPERM) leaves the file's group as it is, and so
  // does a file system that keeps no modes. Fails with the platform's IOError when `model`
  // cannot be examined.
  virtual void copyModeAndGroup(File& file, const std::string& model) = 0;
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
[[nodiscard]] TALLOWMERE_API std::string parentDirectory(const std::string& path);

// The failure of a writer that finds a symbolic link at `path`, where it keeps a file of its own
// beside a text (an index, a data file): an IOError of the user-error kind, reason
// PermissionDenied, naming the link: "<path>: is a symbolic link; an index or data file is
// never written through a link nor replaced over one (remove the link, or put a regular file
// there)".
[[nodiscard]] TALLOWMERE_API IOError symbolicLinkRefused(const std::string& path);

// A new, empty file, open for reading and writing, for the next version of `path`, to be
// written, synced and renamed over `path` (as replaceFileWhole does). It lies beside `path`
// and is hidden, so that listing a directory never takes it for a fortune file, under a name
// that nothing had, "dir/.name.XXXXXXXX.tmp" with eight random letters and digits, made with
// OpenMode::CreateNew (a name taken is passed over for another): nothing planted at a
// temporary's name is opened, followed or written through. Its name() is its path. It gets the
// mode and group (see Env::copyModeAndGroup) of the file at `path`, or, when there is none, of
// the file at `model` (an index's text, say); with neither it stays readable by its owner only.
//
// A temporary at the fixed name that earlier versions used (".name.tmp"), left by a crash, is
// removed first: the name itself, never what a link there points to. One left under a random
// name by a crash stays, hidden, until someone removes it. A symbolic link at `path` is
// refused (symbolicLinkRefused): renaming over it would replace the link, not what it points
// to. The caller holds whatever lock keeps writers of `path` apart.
[[nodiscard]] TALLOWMERE_API std::unique_ptr<File> createReplacementFile(
    Env& env, const std::string& path, const std::string& model = {});

// Replaces the file at `path` whole with `bytes`: written beside it (createReplacementFile,
// so with the mode and group of the old file, or of `model` for a new one), synced when
// `durable`, renamed over it, and its directory synced. Another process sees the old file or
// the new one; a failure or crash at any step leaves the old one. When the file at `path` holds
// `bytes` already, nothing is written; otherwise a symbolic link there is refused.
TALLOWMERE_API void replaceFileWhole(Env& env, const std::string& path, std::string_view bytes,
                                     bool durable, const std::string& model = {});

}  // namespace tallowmere
