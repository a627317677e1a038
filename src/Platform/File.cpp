#include "Platform/File.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace tallowmere {

namespace {

// Bytes between the position and the end of the file; zero when the position is beyond it.
std::size_t bytesLeft(File& file) {
  const std::int64_t here = file.position();
  const std::int64_t end = file.size();
  if (end <= here) return 0;
  const auto left = static_cast<std::uint64_t>(end - here);
  return static_cast<std::size_t>(
      std::min<std::uint64_t>(left, std::numeric_limits<std::size_t>::max()));
}

}  // namespace

std::string File::read(std::size_t size) {
  char piece[4096];
  if (size <= sizeof piece) {
    // Small reads (a header, an index entry, most fortunes) need not ask for the file's size
    // first, which costs a system call.
    return std::string(piece, readSome(piece, size));
  }
  // `size` may come from a corrupt header, so the buffer is sized by what the file holds, not
  // by what was asked for.
  std::string result(std::min(size, bytesLeft(*this)), '\0');
  const std::size_t got = readSome(result.data(), result.size());
  const bool reachedEnd = got < result.size();
  result.resize(got);
  if (reachedEnd) return result;
  // The file may have grown since its size was taken (another handle appending): read on in
  // small pieces until the end or `size` bytes, so the buffer still grows only with the data.
  while (result.size() < size) {
    const std::size_t want = std::min(sizeof piece, size - result.size());
    const std::size_t n = readSome(piece, want);
    result.append(piece, n);
    if (n < want) break;
  }
  return result;
}

std::string File::readToEnd() { return read(std::numeric_limits<std::size_t>::max()); }

}  // namespace tallowmere
