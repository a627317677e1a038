// Reading fortunes: the count, one fortune by number, and all of them from the text.
#include <algorithm>
#include <cerrno>
#include <optional>

#include "Data/Fortune/FortuneFile.hpp"
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Utf8.hpp"
#include "Platform/Errors.hpp"

namespace tallowmere {

// The reads of the index run under the text cell's lock, like every rebuild and append of this fortune
// file, so they never meet an index that another thread has cleared and not yet refilled.

std::int64_t getNumFortunes(const FortuneFile& file) {
  std::int64_t count = 0;
  detail::withIndex(file, [&](detail::HeldText&, const Index& index) {
    count = getStats(index).numFortunes;
  });
  return count;
}

std::vector<IndexEntry> getEntries(const FortuneFile& file) {
  std::vector<IndexEntry> entries;
  detail::withIndex(file, [&](detail::HeldText&, const Index& index) {
    entries = getEntries(index);
  });
  return entries;
}

std::string getFortune(const FortuneFile& file, std::int64_t i) {
  std::string bytes;
  detail::withIndex(file, [&](detail::HeldText& held, const Index& index) {
    // A bad number fails here, before the text file is touched.
    const IndexEntry entry = getEntry(index, i);
    File& text = held.file();
    text.seek(entry.stringOffset);
    bytes = text.read(static_cast<std::size_t>(std::max<std::int64_t>(entry.stringBytes, 0)));
  });
  return detail::decodeUtf8Leniently(bytes);
}

std::vector<std::string> getFortunes(const FortuneFile& file) {
  std::string text;
  std::string name;
  detail::withFortuneFile(file, [&](File& handle) {
    handle.seek(0);
    text = handle.readToEnd();
    name = handle.name();
  });
  if (const std::optional<std::size_t> bad = detail::findInvalidUtf8(text)) {
    throw IOError::system(EILSEQ, name, "getFortunes: decoding byte " + std::to_string(*bad));
  }
  std::string separator = "\n";
  detail::appendUtf8(separator, file.fortuneDelim());
  separator += '\n';
  std::vector<std::string> pieces;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(separator, from)) != std::string::npos;
       from = at + separator.size()) {
    pieces.emplace_back(text, from, at - from);
  }
  pieces.emplace_back(text, from);
  return pieces;
}

}  // namespace tallowmere
