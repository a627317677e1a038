#include "Data/Fortune/Strfile/Text.hpp"

#include <limits>

namespace tallowmere::detail {

std::string_view FileStrfileText::readAt(std::uint64_t offset, std::size_t limit,
                                         std::string& buffer) {
  // Offsets past what a File can seek to lie past the end of any text it holds.
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return {};
  file_.seek(static_cast<std::int64_t>(offset));
  buffer.resize(limit);
  std::size_t have = 0;
  while (have < limit) {
    const std::size_t got = file_.readSome(buffer.data() + have, limit - have);
    if (got == 0) break;
    have += got;
  }
  buffer.resize(have);
  return buffer;
}

}  // namespace tallowmere::detail
