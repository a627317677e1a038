// Reading fortunes: the count, one fortune by number, and all of them from the text.
#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>
#include <variant>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Trust.hpp"
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
    if (detail::entriesProblem(0, entries, nullptr, detail::textBoundsOf(access))) {
      detail::replaceUntrustedIndex(access);
      entries = getEntries(access.index());
    }
  });
  return entries;
}

namespace {

// Why fortune i could not be read through the index.
struct Untrusted {
  std::string problem;
  ErrorReason reason;  // StaleIndex when the text ends before the fortune does
};

// Fortune i's bytes through the handle's index, or why the index cannot be trusted for them.
// The entry is read together with its neighbours, in one read, and checked against them; the
// bytes read are checked for a delimiter line. A bad number fails here, before the text file
// is touched.
std::variant<std::string, Untrusted> readFortune(detail::Access& access, std::int64_t i) {
  const Index& index = access.index();
  if (i < 0) (void)getEntry(index, i);  // throws: out of range
  const std::int64_t first = std::max<std::int64_t>(i - 1, 0);
  const std::vector<IndexEntry> entries = getEntries(index, first, i - first + 2);
  const auto at = static_cast<std::size_t>(i - first);
  if (entries.size() <= at) {
    throw IOError::userError("getEntry: index out of range: " + std::to_string(i), {},
                             ErrorReason::OutOfRange);
  }
  // Whether the fortune lies inside the text shows when it is read: the size is not asked for.
  const detail::TextBounds bounds{std::numeric_limits<std::int64_t>::max(),
                                  detail::separatorOf(access.state().delimiter)};
  if (auto problem = detail::entriesProblem(first, entries, nullptr, bounds)) {
    return Untrusted{std::move(*problem), ErrorReason::DamagedIndex};
  }
  const IndexEntry& entry = entries[at];
  const auto length = static_cast<std::size_t>(entry.stringBytes);
  std::string bytes = access.text().readAt(entry.stringOffset, length);
  if (bytes.size() < length) {
    return Untrusted{"the text ends before fortune " + std::to_string(i) + " does",
                     ErrorReason::StaleIndex};
  }
  if (auto problem = detail::bytesProblem(i, bytes, bounds)) {
    return Untrusted{std::move(*problem), ErrorReason::DamagedIndex};
  }
  return bytes;
}

}  // namespace

std::string getFortune(const FortuneFile& file, std::int64_t i) {
  std::string bytes;
  detail::withAccess(file, [&](detail::Access& access) {
    // An index that reaches past the end of the text (cut or replaced since the index was
    // made, or damaged) would read cut or foreign text. Obtaining the index checks that;
    // opening the text after the index checks it again here; on a handle whose text is open
    // already, a read that comes up short shows it. An entry found wrong for the text is
    // never used either: the index is replaced as a damaged one is.
    const bool textWasOpen = access.textWasOpen();
    access.lock(LockMode::Shared);
    if (!textWasOpen && detail::reachesPastText(access.index(), access)) {
      detail::replaceUntrustedIndex(access);
    }
    std::variant<std::string, Untrusted> read = readFortune(access, i);
    if (read.index() != 0) {
      detail::replaceUntrustedIndex(access);
      read = readFortune(access, i);
    }
    if (auto* untrusted = std::get_if<Untrusted>(&read)) {
      // Only a program that ignores the lock can have changed the text since.
      const std::string& path = access.state().path;
      if (untrusted->reason == ErrorReason::StaleIndex) {
        throw IOError::userError(path + ": the text was cut while it was read", path,
                                 ErrorReason::StaleIndex);
      }
      detail::throwDamagedIndex(access, untrusted->problem);
    }
    bytes = std::move(std::get<std::string>(read));
  });
  return detail::decodeUtf8Leniently(bytes);
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
