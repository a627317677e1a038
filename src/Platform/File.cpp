#include <tallowmere/Platform/File.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>

#include <tallowmere/Platform/Errors.hpp>

namespace tallowmere {

std::string File::readAt(std::int64_t offset, std::size_t size) {
  char piece[4096];
  if (size <= sizeof piece) {
    // Small reads (a header, an index entry, most fortunes) need not ask for the file's size
    // first, which costs a system call.
    return std::string(piece, readAt(offset, piece, size));
  }
  // `size` may come from a corrupt header, so the buffer is sized by what the file holds, not
  // by what was asked for.
  const std::int64_t end = this->size();
  const auto left = end > offset ? static_cast<std::uint64_t>(end - offset) : std::uint64_t{0};
  std::string result(static_cast<std::size_t>(std::min<std::uint64_t>(size, left)), '\0');
  const std::size_t got = readAt(offset, result.data(), result.size());
  const bool reachedEnd = got < result.size();
  result.resize(got);
  if (reachedEnd) return result;
  // The file may have grown since its size was taken (another handle appending): read on in
  // small pieces until the end or `size` bytes, so the buffer still grows only with the data.
  while (result.size() < size) {
    const std::size_t want = std::min(sizeof piece, size - result.size());
    const std::size_t n = readAt(offset + static_cast<std::int64_t>(result.size()), piece, want);
    result.append(piece, n);
    if (n < want) break;
  }
  return result;
}

void File::seek(std::int64_t offset) {
  if (!isOpen()) throw IOError::system(EBADF, name(), "seek");
  if (offset < 0) throw IOError::system(EINVAL, name(), "seek");
  position_.store(offset);
}

std::int64_t File::position() {
  if (!isOpen()) throw IOError::system(EBADF, name(), "position");
  return position_.load();
}

std::size_t File::readSome(char* buffer, std::size_t size) {
  const std::int64_t at = position_.load();
  const std::size_t n = readAt(at, buffer, size);
  position_.store(at + static_cast<std::int64_t>(n));
  return n;
}

std::string File::read(std::size_t size) {
  const std::int64_t at = position_.load();
  std::string bytes = readAt(at, size);
  position_.store(at + static_cast<std::int64_t>(bytes.size()));
  return bytes;
}

std::string File::readToEnd() { return read(std::numeric_limits<std::size_t>::max()); }

void File::write(std::string_view bytes) {
  const std::int64_t at = position_.load();
  writeAt(at, bytes);
  position_.store(at + static_cast<std::int64_t>(bytes.size()));
}

void File::flush() {
  if (!isOpen()) throw IOError::system(EBADF, name(), "flush");
}

bool File::atEnd() { return position_.load() >= size(); }

}  // namespace tallowmere
