// Helpers shared by the fortune file tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include <tallowmere/Platform/Env.hpp>

namespace tallowmere::test {

// The message of the exception of type E that `call` throws; fails the test otherwise.
template <class E, class Call>
std::string messageOf(Call&& call) {
  try {
    call();
  } catch (const E& e) {
    return e.what();
  }
  ADD_FAILURE() << "expected an exception";
  return {};
}

inline std::vector<IndexEntry> entriesOf(const FortuneFile& file) {
  return getEntries(getIndex(file));
}

// The bytes of an index file that lists `entries` and whose header claims `count` of them (all
// by default) and the given offsetAfter (theirs by default), the table padded with zero bytes to
// hold that many.
inline std::string indexBytes(const std::vector<IndexEntry>& entries, std::int64_t count = -1,
                              std::int64_t offsetAfter = -1) {
  FortuneStats stats = FortuneStats::mempty;
  for (const IndexEntry& entry : entries) stats += indexEntryStats(entry);
  if (count >= 0) stats.numFortunes = count;
  if (offsetAfter >= 0) stats.offsetAfter = offsetAfter;
  std::string bytes = encodeHeader(Header{stats, indexHeaderLength});
  for (const IndexEntry& entry : entries) bytes += encodeIndexEntry(entry);
  bytes.resize(static_cast<std::size_t>(indexHeaderLength + indexEntryLength * stats.numFortunes),
               '\0');
  return bytes;
}

// The hidden files beside `path` that a writer makes and names after it (".NAME.*"): its
// temporaries.
inline std::vector<std::string> temporariesOf(const std::string& path, Env& env = Env::disk()) {
  const std::size_t slash = path.find_last_of('/');
  const std::string prefix = "." + path.substr(slash == std::string::npos ? 0 : slash + 1) + ".";
  std::vector<std::string> found;
  for (const std::string& name : env.listDirectory(parentDirectory(path))) {
    if (name.rfind(prefix, 0) == 0) found.push_back(name);
  }
  return found;
}

}  // namespace tallowmere::test
