// createMemoryFile: a File over a growable byte buffer, with the semantics of a disk file
// opened for reading and writing.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "Platform/Errors.hpp"
#include "Platform/File.hpp"
#include "Platform/Mutex.hpp"

namespace tallowmere {

namespace {

class MemoryFile final : public File {
 public:
  explicit MemoryFile(std::string name) : name_(std::move(name)) {}

  void seek(std::int64_t offset) override {
    detail::MutexLock lock(mutex_);
    requireOpen("seek");
    if (offset < 0) throw IOError::system(EINVAL, name_, "seek");
    position_ = offset;
  }

  std::int64_t position() override {
    detail::MutexLock lock(mutex_);
    requireOpen("position");
    return position_;
  }

  std::size_t readSome(char* buffer, std::size_t size) override {
    detail::MutexLock lock(mutex_);
    requireOpen("read");
    if (position_ >= currentSize()) return 0;
    const auto from = static_cast<std::size_t>(position_);
    const std::size_t n = std::min(size, bytes_.size() - from);
    if (n > 0) std::memcpy(buffer, bytes_.data() + from, n);
    position_ += static_cast<std::int64_t>(n);
    return n;
  }

  void write(std::string_view bytes) override {
    detail::MutexLock lock(mutex_);
    requireOpen("write");
    // Like a zero-byte write to disk, an empty write neither extends the file nor fills a gap.
    if (bytes.empty()) return;
    const std::int64_t end = endOfWrite(bytes.size());
    if (end > currentSize()) grow(end, "write");
    std::memcpy(bytes_.data() + static_cast<std::size_t>(position_), bytes.data(), bytes.size());
    position_ = end;
  }

  void flush() override {
    detail::MutexLock lock(mutex_);
    requireOpen("flush");
  }

  std::int64_t size() override {
    detail::MutexLock lock(mutex_);
    requireOpen("size");
    return currentSize();
  }

  void setSize(std::int64_t size) override {
    detail::MutexLock lock(mutex_);
    requireOpen("setSize");
    if (size < 0) throw IOError::system(EINVAL, name_, "setSize");
    if (size > currentSize()) {
      grow(size, "setSize");
    } else {
      bytes_.resize(static_cast<std::size_t>(size));
    }
  }

  bool atEnd() override {
    detail::MutexLock lock(mutex_);
    requireOpen("atEnd");
    return position_ >= currentSize();
  }

  void close() override {
    detail::MutexLock lock(mutex_);
    open_ = false;
    std::string().swap(bytes_);  // give the memory back, not just the length
  }

  bool isOpen() override {
    detail::MutexLock lock(mutex_);
    return open_;
  }

  const std::string& name() const override { return name_; }

 private:
  void requireOpen(const char* operation) TM_REQUIRES(mutex_) {
    if (!open_) throw IOError::system(EBADF, name_, operation);
  }

  std::int64_t currentSize() const TM_REQUIRES(mutex_) {
    return static_cast<std::int64_t>(bytes_.size());
  }

  // Where a write of `count` bytes at the position ends; a file offset must fit in 64 bits.
  std::int64_t endOfWrite(std::size_t count) const TM_REQUIRES(mutex_) {
    const auto room = static_cast<std::uint64_t>(INT64_MAX - position_);
    if (count > room) throw IOError::system(EFBIG, name_, "write");
    return position_ + static_cast<std::int64_t>(count);
  }

  // Extends the buffer with zero bytes to `size`. Running out of memory is this file's
  // I/O failure, as a full disk is a disk file's, not a fault of the program.
  void grow(std::int64_t size, const char* operation) TM_REQUIRES(mutex_) {
    if (static_cast<std::uint64_t>(size) > bytes_.max_size()) {
      throw IOError::system(EFBIG, name_, operation);
    }
    try {
      bytes_.resize(static_cast<std::size_t>(size), '\0');
    } catch (const std::bad_alloc&) {
      throw IOError::system(ENOMEM, name_, operation);
    } catch (const std::length_error&) {
      throw IOError::system(EFBIG, name_, operation);
    }
  }

  const std::string name_;
  detail::Mutex mutex_{"memory file"};
  std::string bytes_ TM_GUARDED_BY(mutex_);
  std::int64_t position_ TM_GUARDED_BY(mutex_) = 0;
  bool open_ TM_GUARDED_BY(mutex_) = true;
};

}  // namespace

std::unique_ptr<File> createMemoryFile(std::string name) {
  return std::make_unique<MemoryFile>(std::move(name));
}

}  // namespace tallowmere
