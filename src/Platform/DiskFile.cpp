// openFile: a File over a POSIX descriptor.
//
// The position lives in the object and every transfer is a pread/pwrite at it, so the
// descriptor's own offset is never used and a transfer cannot be torn by another handle's seek.
// All state sits behind the object's lock; close() marks the descriptor released under the
// same lock, so no operation can reach a descriptor number the process may already have reused.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <utility>

#include "Platform/Errors.hpp"
#include "Platform/File.hpp"
#include "Platform/Mutex.hpp"

namespace tallowmere {

namespace {

// Linux moves at most about 2 GiB per call; asking for less keeps ssize_t results exact.
constexpr std::size_t maxTransfer = std::size_t{1} << 30;

class DiskFile final : public File {
 public:
  DiskFile(int descriptor, std::string path) : path_(std::move(path)), fd_(descriptor) {}

  ~DiskFile() override {
    // Errors cannot be reported from here; callers who care call close() first.
    if (fd_ >= 0) ::close(fd_);
  }

  void seek(std::int64_t offset) override {
    detail::MutexLock lock(mutex_);
    descriptor("seek");
    if (offset < 0) throw IOError::system(EINVAL, path_, "seek");
    position_ = offset;
  }

  std::int64_t position() override {
    detail::MutexLock lock(mutex_);
    descriptor("position");
    return position_;
  }

  std::size_t readSome(char* buffer, std::size_t size) override {
    detail::MutexLock lock(mutex_);
    const int fd = descriptor("read");
    std::size_t done = 0;
    while (done < size) {
      // The kernel refuses a range that ends past the largest offset instead of reading
      // short; nothing can be stored out there, so such a read just meets the end.
      const auto room = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max() - at(done));
      const auto want = static_cast<std::size_t>(
          std::min<std::uint64_t>({size - done, maxTransfer, room}));
      if (want == 0) break;
      const ssize_t n = ::pread(fd, buffer + done, want, at(done));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw IOError::system(errno, path_, "read");
      }
      if (n == 0) break;  // end of file
      done += static_cast<std::size_t>(n);
    }
    position_ = at(done);
    return done;
  }

  void write(std::string_view bytes) override {
    detail::MutexLock lock(mutex_);
    const int fd = descriptor("write");
    if (bytes.size() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() -
                                                  position_)) {
      throw IOError::system(EFBIG, path_, "write");
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
      const std::size_t want = std::min(bytes.size() - done, maxTransfer);
      const ssize_t n = ::pwrite(fd, bytes.data() + done, want, at(done));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw IOError::system(errno, path_, "write");
      }
      // A regular file never accepts zero bytes without an error; do not spin on it.
      if (n == 0) throw IOError::system(EIO, path_, "write");
      done += static_cast<std::size_t>(n);
    }
    position_ = at(done);
  }

  void flush() override {
    // Writes are unbuffered: everything has reached the file already.
    detail::MutexLock lock(mutex_);
    descriptor("flush");
  }

  std::int64_t size() override {
    detail::MutexLock lock(mutex_);
    return currentSize("size");
  }

  void setSize(std::int64_t size) override {
    detail::MutexLock lock(mutex_);
    const int fd = descriptor("setSize");
    if (size < 0) throw IOError::system(EINVAL, path_, "setSize");
    while (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
      if (errno != EINTR) throw IOError::system(errno, path_, "setSize");
    }
  }

  bool atEnd() override {
    detail::MutexLock lock(mutex_);
    return position_ >= currentSize("atEnd");
  }

  void close() override {
    detail::MutexLock lock(mutex_);
    if (fd_ < 0) return;
    // The descriptor is released even when close fails, so it is forgotten first and the
    // failure is reported this once. EINTR also leaves it released on Linux, and nothing is
    // buffered here that could have been lost, so it is not a failure.
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && errno != EINTR) throw IOError::system(errno, path_, "close");
  }

  bool isOpen() override {
    detail::MutexLock lock(mutex_);
    return fd_ >= 0;
  }

  const std::string& name() const override { return path_; }

 private:
  // The open descriptor, or the closed-file error naming `operation`.
  int descriptor(const char* operation) TM_REQUIRES(mutex_) {
    if (fd_ < 0) throw IOError::system(EBADF, path_, operation);
    return fd_;
  }

  // The file offset `done` bytes past the position. Callers pass only byte counts that the
  // file has already accepted or yielded, so the sum stays within the file's size.
  off_t at(std::size_t done) const TM_REQUIRES(mutex_) {
    return static_cast<off_t>(position_ + static_cast<std::int64_t>(done));
  }

  std::int64_t currentSize(const char* operation) TM_REQUIRES(mutex_) {
    struct stat status {};
    if (::fstat(descriptor(operation), &status) != 0) {
      throw IOError::system(errno, path_, operation);
    }
    return static_cast<std::int64_t>(status.st_size);
  }

  const std::string path_;
  detail::Mutex mutex_{"file"};
  int fd_ TM_GUARDED_BY(mutex_);
  std::int64_t position_ TM_GUARDED_BY(mutex_) = 0;
};

}  // namespace

std::unique_ptr<File> openFile(const std::string& path, OpenMode mode) {
  // Without blocking: opening a FIFO for reading would otherwise wait for a writer forever.
  // (Every transfer is a pread or pwrite, which a FIFO refuses at once.)
  const int flags =
      O_CLOEXEC | O_NONBLOCK | (mode == OpenMode::ReadOnly ? O_RDONLY : O_RDWR | O_CREAT);
  int fd = -1;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw IOError::system(errno, path, "open");

  // A directory opens read-only without complaint; it is not a file whose bytes can be read.
  struct stat status {};
  int error = 0;
  if (::fstat(fd, &status) != 0) {
    error = errno;
  } else if (S_ISDIR(status.st_mode)) {
    error = EISDIR;
  } else if (S_ISREG(status.st_mode)) {
    // Reads and writes of a regular file never wait for a peer: the flag changes nothing, and
    // clearing it would cost two system calls for every file a draw looks at.
  } else if (const int fileFlags = ::fcntl(fd, F_GETFL);
             fileFlags < 0 || ::fcntl(fd, F_SETFL, fileFlags & ~O_NONBLOCK) != 0) {
    error = errno;
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

}  // namespace tallowmere
