// Reading fortunes: the count, one fortune by number, and all of them from the text.
#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Utf8.hpp"

namespace tallowmere {

std::int64_t getNumFortunes(const FortuneFile& file) {
  std::int64_t count = 0;
  detail::withAccess(file,
                     [&](detail::Access& access) { count = getStats(access.index()).numFortunes; });
  return count;
}

std::vector<IndexEntry> getEntries(const FortuneFile& file) {
  std::vector<IndexEntry> entries;
  detail::withAccess(file, [&](detail::Access& access) {
    access.lock(LockMode::Shared);
    entries = getEntries(access.index());
  });
  return entries;
}

namespace {

// Fortune i's bytes through the handle's index; none when the text ends before the fortune
// does.
std::optional<std::string> readFortune(detail::Access& access, std::int64_t i) {
  // A bad number fails here, before the text file is touched.
  const IndexEntry entry = getEntry(access.index(), i);
  const auto length = static_cast<std::size_t>(std::max<std::int64_t>(entry.stringBytes, 0));
  std::string bytes = access.text().readAt(std::max<std::int64_t>(entry.stringOffset, 0), length);
  if (bytes.size() < length) return std::nullopt;
  return bytes;
}

}  // namespace

std::string getFortune(const FortuneFile& file, std::int64_t i) {
  std::optional<std::string> bytes;
  detail::withAccess(file, [&](detail::Access& access) {
    // An index that reaches past the end of the text (cut or replaced since the index was
    // made, or damaged) would read cut or foreign text. Obtaining the index checks that;
    // opening the text after the index checks it again here; on a handle whose text is open
    // already, a read that comes up short shows it.
    const bool textWasOpen = access.textWasOpen();
    access.lock(LockMode::Shared);
    if (!textWasOpen && detail::reachesPastText(access.index(), access)) {
      detail::replaceStaleIndex(access);
    }
    bytes = readFortune(access, i);
    if (bytes) return;
    detail::replaceStaleIndex(access);
    bytes = readFortune(access, i);
    // Only a program that ignores the lock can have cut the text since.
    if (!bytes) {
      const std::string& path = access.state().path;
      throw IOError::userError(path + ": the text was cut while it was read", path,
                               ErrorReason::StaleIndex);
    }
  });
  return detail::decodeUtf8Leniently(*bytes);
}

std::vector<std::string> getFortunes(const FortuneFile& file) {
  std::string text;
  std::string name;
  detail::withAccess(file, [&](detail::Access& access) {
    access.lock(LockMode::Shared);
    File& handle = access.text();
    text = handle.readAt(0, std::numeric_limits<std::size_t>::max());
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
