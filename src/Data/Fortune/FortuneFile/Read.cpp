// Reading fortunes: the count, one fortune by number, and all of them from the text.
#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>

#include "Data/Fortune/FortuneFile.hpp"
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Storage.hpp"
#include "Data/Fortune/FortuneFile/Utf8.hpp"
#include "Platform/Errors.hpp"

namespace tallowmere {

namespace {

// Fortune i's bytes through the handle's index; none when the text ends before the fortune
// does, which means the index no longer describes the text.
std::optional<std::string> readFortune(detail::Access& access, std::int64_t i) {
  // A bad number fails here, before the text file is touched.
  const IndexEntry entry = getEntry(access.index(), i);
  const auto length = static_cast<std::size_t>(std::max<std::int64_t>(entry.stringBytes, 0));
  std::string bytes = access.text().readAt(std::max<std::int64_t>(entry.stringOffset, 0), length);
  if (bytes.size() < length) return std::nullopt;
  return bytes;
}

}  // namespace

std::int64_t getNumFortunes(const FortuneFile& file) {
  std::int64_t count = 0;
  detail::withAccess(file, [&](detail::Access& access) {
    count = getStats(access.index()).numFortunes;
  });
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

std::string getFortune(const FortuneFile& file, std::int64_t i) {
  std::optional<std::string> bytes;
  detail::withAccess(file, [&](detail::Access& access) {
    access.lock(LockMode::Shared);
    bytes = readFortune(access, i);
    if (bytes) return;
    // The text was cut or replaced since the index was made. Never print what the stale index
    // points at: replace the index as a first use would (a writer rebuilds its index file, a
    // reader indexes the text in memory), and read through the new one.
    if (access.state().writable) {
      detail::beginWrite(access);
      detail::rebuildIndexFile(access);
    } else {
      access.setIndex(detail::indexInMemory(access));
    }
    bytes = readFortune(access, i);
    // Only a text cut again meanwhile by a program that ignores the lock ends here.
    if (!bytes) throw IOError::system(ESTALE, access.state().path, "getFortune: the text changed");
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
