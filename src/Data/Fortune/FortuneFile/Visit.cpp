// Visiting every fortune with its text, in bounded memory.
#include <algorithm>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include "Data/Fortune/FortuneFile/Cells.hpp"

namespace tallowmere {

namespace {

constexpr std::int64_t kBatch = 4096;      // entries read at once
constexpr std::int64_t kWindow = 4 << 20;  // bytes of text read at once

// The text of one fortune after another, read through a window that moves forward: fortunes in
// text order cost one read per window, others (and long ones) a read of their own.
class TextWindow {
 public:
  explicit TextWindow(File& text) : text_(text) {}

  std::string_view bytesOf(const IndexEntry& entry) {
    const std::int64_t offset = std::max<std::int64_t>(entry.stringOffset, 0);
    const std::int64_t length = std::max<std::int64_t>(entry.stringBytes, 0);
    if (offset < start_ || offset + length > start_ + static_cast<std::int64_t>(buffer_.size())) {
      const bool forward = offset >= start_ && length <= kWindow / 2;
      buffer_ = text_.readAt(offset, static_cast<std::size_t>(forward ? kWindow : length));
      start_ = offset;
    }
    const std::string_view window(buffer_);
    const auto from = static_cast<std::size_t>(offset - start_);
    return window.substr(std::min(from, window.size()), static_cast<std::size_t>(length));
  }

 private:
  File& text_;
  std::string buffer_;
  std::int64_t start_ = 0;
};

}  // namespace

void forEachFortune(const FortuneFile& file,
                    FunctionRef<void(std::int64_t, const IndexEntry&, std::string_view)> visit) {
  detail::withAccess(file, [&](detail::Access& access) {
    access.lock(LockMode::Shared);
    if (detail::reachesPastText(access.index(), access)) detail::replaceStaleIndex(access);
    const Index& index = access.index();
    TextWindow window(access.text());
    const std::int64_t count = getStats(index).numFortunes;
    for (std::int64_t first = 0; first < count; first += kBatch) {
      const std::vector<IndexEntry> entries = getEntries(index, first, kBatch);
      for (std::size_t i = 0; i < entries.size(); ++i) {
        visit(first + static_cast<std::int64_t>(i), entries[i], window.bytesOf(entries[i]));
      }
    }
  });
}

}  // namespace tallowmere
