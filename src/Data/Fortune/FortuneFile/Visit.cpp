// Visiting every fortune with its text, in bounded memory.
#include <algorithm>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Trust.hpp"

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

namespace {

using Visit = FunctionRef<void(std::int64_t, const IndexEntry&, std::string_view)>;

// Visits the index's fortunes that start at byte `from` or later, checking each before it is
// visited; returns why the index cannot be trusted, when an entry shows that, with the end of
// the last fortune visited in `from`.
std::optional<std::string> visitFrom(detail::Access& access, std::int64_t& from, Visit visit) {
  const Index& index = access.index();
  const detail::TextBounds bounds = detail::textBoundsOf(access);
  TextWindow window(access.text());
  const std::int64_t count = getStats(index).numFortunes;
  std::optional<IndexEntry> previous;
  for (std::int64_t first = 0; first < count; first += kBatch) {
    const std::vector<IndexEntry> entries = getEntries(index, first, kBatch);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const IndexEntry& entry = entries[i];
      const std::int64_t number = first + static_cast<std::int64_t>(i);
      if (auto problem =
              detail::entryProblem(number, entry, previous ? &*previous : nullptr, bounds)) {
        return problem;
      }
      previous = entry;
      if (entry.stringOffset < from) continue;
      const std::string_view bytes = window.bytesOf(entry);
      if (bytes.size() < static_cast<std::size_t>(entry.stringBytes)) {
        return "the text ends before fortune " + std::to_string(number) + " does";
      }
      if (auto problem = detail::bytesProblem(number, bytes, bounds)) return problem;
      visit(number, entry, bytes);
      from = entry.stringOffset + entry.stringBytes + bounds.separatorLength();
    }
  }
  return std::nullopt;
}

}  // namespace

void forEachFortune(const FortuneFile& file, Visit visit) {
  detail::withAccess(file, [&](detail::Access& access) {
    access.lock(LockMode::Shared);
    // The table is checked before any fortune is visited (it is small beside the text), so that
    // entries out of order are found before the visit has passed fortunes they skip.
    if (detail::reachesPastText(access.index(), access) ||
        detail::tableProblem(access.index(), 0, detail::textBoundsOf(access))) {
      detail::replaceUntrustedIndex(access);
    }
    // A fortune found to hold a delimiter line replaces the index as a damaged one is
    // replaced; the visit goes on through the new one after the last fortune visited, so that
    // no part of the text is visited twice.
    std::int64_t from = 0;
    if (!visitFrom(access, from, visit)) return;
    detail::replaceUntrustedIndex(access);
    if (auto problem = visitFrom(access, from, visit)) detail::throwDamagedIndex(access, *problem);
  });
}

}  // namespace tallowmere
