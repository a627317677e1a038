// Env::disk(): the file system through POSIX calls, and its files over descriptors.
//
// A DiskFile transfers with pread and pwrite at the offsets it is given, so the descriptor's
// own offset is never used and transfers need no lock. Only close() must be alone: it holds
// the file's readers-writer lock exclusively while every other operation holds it shared, so
// no operation can reach a descriptor number that the process may already have reused.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <utility>

#include <tallowmere/Platform/Env.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Platform/Mutex.hpp"

namespace tallowmere {

namespace {

// Linux moves at most about 2 GiB per call; asking for less keeps ssize_t results exact.
constexpr std::size_t maxTransfer = std::size_t{1} << 30;

FileIdentity identityOf(const struct stat& status) {
  return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

class DiskFile final : public File {
 public:
  DiskFile(int descriptor, std::string path) : path_(std::move(path)), fd_(descriptor) {}
  DiskFile(const DiskFile&) = delete;
  DiskFile& operator=(const DiskFile&) = delete;

  ~DiskFile() override {
    // Errors cannot be reported from here; callers who care call close() first.
    if (fd_ >= 0) ::close(fd_);
  }

  std::size_t readAt(std::int64_t offset, char* buffer, std::size_t size) override
      TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    const int fd = descriptor("read");
    if (offset < 0) throw IOError::system(EINVAL, path_, "read");
    std::size_t done = 0;
    while (done < size) {
      const auto at = static_cast<off_t>(offset + static_cast<std::int64_t>(done));
      // The kernel refuses a range that ends past the largest offset instead of reading
      // short; nothing can be stored out there, so such a read just meets the end.
      const auto room = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max() - at);
      const auto want =
          static_cast<std::size_t>(std::min<std::uint64_t>({size - done, maxTransfer, room}));
      if (want == 0) break;
      const ssize_t n = ::pread(fd, buffer + done, want, at);
      if (n < 0) {
        if (errno == EINTR) continue;
        throw IOError::system(errno, path_, "read");
      }
      if (n == 0) break;  // end of file
      done += static_cast<std::size_t>(n);
    }
    return done;
  }

  void writeAt(std::int64_t offset, std::string_view bytes) override TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    const int fd = descriptor("write");
    if (offset < 0) throw IOError::system(EINVAL, path_, "write");
    if (bytes.size() >
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() - offset)) {
      throw IOError::system(EFBIG, path_, "write");
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
      const std::size_t want = std::min(bytes.size() - done, maxTransfer);
      const auto at = static_cast<off_t>(offset + static_cast<std::int64_t>(done));
      const ssize_t n = ::pwrite(fd, bytes.data() + done, want, at);
      if (n < 0) {
        if (errno == EINTR) continue;
        throw IOError::system(errno, path_, "write");
      }
      // A regular file never accepts zero bytes without an error; do not spin on it.
      if (n == 0) throw IOError::system(EIO, path_, "write");
      done += static_cast<std::size_t>(n);
    }
  }

  std::int64_t size() override TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    return static_cast<std::int64_t>(stat("size").st_size);
  }

  void setSize(std::int64_t size) override TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    const int fd = descriptor("setSize");
    if (size < 0) throw IOError::system(EINVAL, path_, "setSize");
    while (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
      if (errno != EINTR) throw IOError::system(errno, path_, "setSize");
    }
  }

  void sync() override TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    const int fd = descriptor("sync");
    // fdatasync also writes the size when it changed, which is all the metadata a reader needs.
    while (::fdatasync(fd) != 0) {
      if (errno != EINTR) throw IOError::system(errno, path_, "sync");
    }
  }

  void startWriteback(std::int64_t offset, std::int64_t length) noexcept override
      TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    if (fd_ >= 0 && offset >= 0 && length > 0) {
      ::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(length),
                        SYNC_FILE_RANGE_WRITE);
    }
  }

  FileIdentity identity() override TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    return identityOf(stat("identity"));
  }

  // The permission bits of `model` and, where this user may set it, its group.
  void adoptModeAndGroup(const struct stat& model) TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    const struct stat own = stat("set mode");
    const int fd = descriptor("set mode");
    // A change of group may clear the set-user-ID and set-group-ID bits, so it goes first. A
    // user who is not in the group may not give it: the file keeps the group it was given.
    if (own.st_gid != model.st_gid && ::fchown(fd, static_cast<uid_t>(-1), model.st_gid) != 0 &&
        errno != EPERM) {
      throw IOError::system(errno, path_, "set group");
    }
    // A file system without modes (FAT, say) refuses; its files have the mode it gives them.
    if (::fchmod(fd, model.st_mode & 0777) != 0 && errno != EPERM && errno != EOPNOTSUPP) {
      throw IOError::system(errno, path_, "set mode");
    }
  }

  void close() override TM_EXCLUDES(lifetime_) {
    detail::ExclusiveLock lock(lifetime_);
    if (fd_ < 0) return;
    // The descriptor is released even when close fails, so it is forgotten first and the
    // failure is reported this once. EINTR also leaves it released on Linux, and nothing is
    // buffered here that could have been lost, so it is not a failure.
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && errno != EINTR) throw IOError::system(errno, path_, "close");
  }

  bool isOpen() override TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    return fd_ >= 0;
  }

  [[nodiscard]] const std::string& name() const override { return path_; }

  // flock on the descriptor, waiting for it; `LOCK_UN` releases. A closed file holds no lock,
  // so releasing one is then nothing to do.
  void flockDescriptor(int operation) TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    if (fd_ < 0) {
      if (operation == LOCK_UN) return;
      throw IOError::system(EBADF, path_, "lock");
    }
    while (::flock(fd_, operation) != 0) {
      if (errno != EINTR)
        throw IOError::system(errno, path_, operation == LOCK_UN ? "unlock" : "lock");
    }
  }

 private:
  // The open descriptor, or the closed-file error naming `operation`.
  int descriptor(const char* operation) TM_REQUIRES_SHARED(lifetime_) {
    if (fd_ < 0) throw IOError::system(EBADF, path_, operation);
    return fd_;
  }

  struct stat stat(const char* operation) TM_REQUIRES_SHARED(lifetime_) {
    struct stat status {};
    if (::fstat(descriptor(operation), &status) != 0) {
      throw IOError::system(errno, path_, operation);
    }
    return status;
  }

  const std::string path_;
  detail::SharedMutex lifetime_;
  int fd_ TM_GUARDED_BY(lifetime_);
};

class DiskLock final : public FileLock {
 public:
  explicit DiskLock(DiskFile& file) : file_(file) {}
  DiskLock(const DiskLock&) = delete;
  DiskLock& operator=(const DiskLock&) = delete;
  ~DiskLock() override {
    try {
      file_.flockDescriptor(LOCK_UN);
    } catch (...) {  // closing the descriptor releases the lock in any case
    }
  }

 private:
  DiskFile& file_;
};

int openDescriptor(const std::string& path, int flags, mode_t mode = 0666) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw IOError::system(errno, path, "open");
  return fd;
}

// Makes reads and writes of `fd` wait again; 0, or the errno of the failing call.
int clearNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return errno;
  return 0;
}

FileStatus statusOf(const struct stat& info) {
  const FileKind kind = S_ISDIR(info.st_mode)   ? FileKind::Directory
                        : S_ISREG(info.st_mode) ? FileKind::Regular
                        : S_ISLNK(info.st_mode) ? FileKind::SymbolicLink
                                                : FileKind::Other;
  const std::int64_t modified =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
  return {kind, identityOf(info), static_cast<std::int64_t>(info.st_size),
          static_cast<std::uint32_t>(info.st_mode & 07777), modified};
}

class DiskEnv final : public Env {
 public:
  std::unique_ptr<File> openFile(const std::string& path, OpenMode mode) override {
    // Without blocking: opening a FIFO for reading would otherwise wait for a writer forever.
    // (Every transfer is a pread or pwrite, which a FIFO refuses at once.)
    int flags = O_CLOEXEC | O_NONBLOCK;
    switch (mode) {
      case OpenMode::ReadOnly:
        flags |= O_RDONLY;
        break;
      case OpenMode::ReadWrite:
        flags |= O_RDWR | O_CREAT;
        break;
      case OpenMode::Truncate:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
      case OpenMode::ReadWriteNoFollow:
        flags |= O_RDWR | O_CREAT | O_NOFOLLOW;
        break;
      case OpenMode::CreateNew:
        flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
        break;
    }
    const int fd = openDescriptor(path, flags, mode == OpenMode::CreateNew ? 0600 : 0666);

    // A directory opens read-only without complaint; it is not a file whose bytes can be read.
    struct stat status {};
    int error = 0;
    if (::fstat(fd, &status) != 0) {
      error = errno;
    } else if (S_ISDIR(status.st_mode)) {
      error = EISDIR;
    } else if (!S_ISREG(status.st_mode)) {
      // Reads and writes of a regular file never wait for a peer: the flag changes nothing, and
      // clearing it would cost two system calls for every file a draw looks at.
      error = clearNonBlocking(fd);
    }
    if (error != 0) {
      ::close(fd);
      throw IOError::system(error, path, "open");
    }
    try {
      return std::make_unique<DiskFile>(fd, path);
    } catch (...) {
      ::close(fd);
      throw;
    }
  }

  FileStatus status(const std::string& path) noexcept override {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) return {};
    return statusOf(info);
  }

  FileStatus linkStatus(const std::string& path) noexcept override {
    struct stat info {};
    if (path.empty() || ::lstat(path.c_str(), &info) != 0) return {};
    return statusOf(info);
  }

  void copyModeAndGroup(File& file, const std::string& model) override {
    auto* disk = dynamic_cast<DiskFile*>(&file);
    if (disk == nullptr) {
      throw UsageError("copyModeAndGroup: " + file.name() + " is not a file on disk");
    }
    struct stat info {};
    if (::stat(model.c_str(), &info) != 0) throw IOError::system(errno, model, "stat");
    disk->adoptModeAndGroup(info);
  }

  std::vector<std::string> listDirectory(const std::string& path) override {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) throw IOError::system(errno, path, "opendir");
    std::vector<std::string> names;
    for (;;) {
      // readdir signals the end and an error alike with a null pointer; only errno tells them
      // apart.
      errno = 0;
      const dirent* entry = ::readdir(dir);
      if (entry == nullptr) {
        const int error = errno;
        ::closedir(dir);
        if (error != 0) throw IOError::system(error, path, "readdir");
        return names;
      }
      try {
        names.emplace_back(entry->d_name);
      } catch (...) {
        ::closedir(dir);
        throw;
      }
    }
  }

  void renameFile(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) throw IOError::system(errno, to, "rename");
  }

  void removeFile(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) throw IOError::system(errno, path, "remove");
  }

  void syncDirectory(const std::string& path) override {
    const int fd = openDescriptor(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int error = 0;
    while (::fsync(fd) != 0) {
      if (errno != EINTR) {
        error = errno;
        break;
      }
    }
    ::close(fd);
    if (error != 0) throw IOError::system(error, path, "sync");
  }

  std::unique_ptr<FileLock> lockFile(File& file, LockMode mode) override {
    auto* disk = dynamic_cast<DiskFile*>(&file);
    if (disk == nullptr) throw UsageError("lockFile: " + file.name() + " is not a file on disk");
    // Made first, so that memory running out cannot leave the lock taken with no one to
    // release it; releasing a lock that was never taken does nothing.
    auto lock = std::make_unique<DiskLock>(*disk);
    disk->flockDescriptor(mode == LockMode::Shared ? LOCK_SH : LOCK_EX);
    return lock;
  }
};

}  // namespace

Env& Env::disk() {
  static DiskEnv env;
  return env;
}

std::unique_ptr<File> openFile(const std::string& path, OpenMode mode) {
  return Env::disk().openFile(path, mode);
}

}  // namespace tallowmere
