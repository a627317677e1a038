// MemoryEnv: the in-memory twin of Env::disk(), for tests.
//
// Files and directories live in memory; paths are compared as strings once repeated and
// trailing slashes are dropped, so "dir//a" and "dir/a" name the same file. "." and "/" always
// exist; other directories are made with createDirectory. Files behave as on disk (one file
// shared by every handle that opens it, renames that replace, locks that exclude one another
// between handles) and keep two states: what they hold now and what they held when last
// synced, and likewise each directory's entries. loseUnsyncedData() is a machine losing power:
// everything returns to its last synced state.
//
// Symbolic links (createSymbolicLink) are followed where they are the last component of a path,
// as on disk: opening follows them (and a creating open makes a missing target), status
// follows them, linkStatus, rename and remove do not; OpenMode::ReadWriteNoFollow and
// OpenMode::CreateNew refuse them. A path through a link to a directory is not followed. Files
// have a mode, as a user other than root meets it: a new file gets 0666 (0600 with CreateNew)
// less the umask (setUmask, 022 at first), and opening a file whose owner may not read it, or
// write it when opened for writing, fails (EACCES). There are no owners or groups:
// copyModeAndGroup copies the mode.
//
// Any number of threads may use one MemoryEnv and its files.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <tallowmere/Platform/Env.hpp>
#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

class TALLOWMERE_API MemoryEnv final : public Env {
 public:
  MemoryEnv();
  ~MemoryEnv() override;
  MemoryEnv(const MemoryEnv&) = delete;
  MemoryEnv& operator=(const MemoryEnv&) = delete;

  [[nodiscard]] std::unique_ptr<File> openFile(const std::string& path, OpenMode mode) override;
  // NOLINTNEXTLINE(bugprone-exception-escape): only running out of memory ends it early
  FileStatus status(const std::string& path) noexcept override;
  // NOLINTNEXTLINE(bugprone-exception-escape): only running out of memory ends it early
  FileStatus linkStatus(const std::string& path) noexcept override;
  void copyModeAndGroup(File& file, const std::string& model) override;
  [[nodiscard]] std::vector<std::string> listDirectory(const std::string& path) override;
  void renameFile(const std::string& from, const std::string& to) override;
  void removeFile(const std::string& path) override;
  void syncDirectory(const std::string& path) override;
  [[nodiscard]] std::unique_ptr<FileLock> lockFile(File& file, LockMode mode) override;

  // Makes a directory, durable at once; its parent must exist. An existing one is kept.
  void createDirectory(const std::string& path);
  // Makes a symbolic link at `path` to `target` (read from the link's directory unless it
  // begins with "/"), durable at once, as symlink(2) does: fails (EEXIST) when the name is
  // taken. The target need not exist.
  void createSymbolicLink(const std::string& target, const std::string& path);
  // Sets the permission bits of the file that `path` leads to, as chmod(2) does.
  void setMode(const std::string& path, std::uint32_t mode);
  // Sets the mask that new files' modes are taken from, as umask(2) does; returns the old one.
  std::uint32_t setUmask(std::uint32_t mask);

  // Every file returns to the bytes it held when last synced, and every directory to the
  // entries it held when last synced: files never synced into a directory are gone, renames
  // and removals not synced are undone. A file at a path for which `keeps` answers true keeps
  // what it holds now instead, as when the system wrote it back before the power went. Every
  // lock is released, as the processes that held them are gone; handles opened before must
  // not be used again.
  void loseUnsyncedData(const std::function<bool(const std::string& path)>& keeps = {});

  struct TALLOWMERE_HIDDEN State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace tallowmere
