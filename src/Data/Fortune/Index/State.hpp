// The shared state behind an Index handle (internal).
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <utility>

#include "Data/Fortune/Index/Handle.hpp"
#include "Platform/Guarded.hpp"

namespace tallowmere {

struct Index::State {
  State(std::unique_ptr<File> indexFile, const Header& current, bool storedDiffers)
      : file(std::move(indexFile)), header("index", current), storedHeaderDiffers(storedDiffers) {}

  // Serialises its own operations, so closeIndex may close it without taking the lock.
  const std::unique_ptr<File> file;
  // The current header; no value once the index is closed. Its lock is the index's only lock.
  detail::Guarded<std::optional<Header>> header;
  // True while the header stored in the file may differ from the current one: opening
  // repaired the statistics in memory, or a header update failed while writing. The next
  // update then writes its header even if it changes nothing. Used under the header's lock;
  // atomic only because the lock lives inside `header`.
  std::atomic<bool> storedHeaderDiffers;
};

namespace detail {

// modifyHeader, with `afterWrite` run on the file once the new header is stored and before it
// becomes current. Should afterWrite fail, the current header stays the old one and the stored
// one is marked as differing, to be rewritten by the next update.
void modifyHeaderThen(const Index& index, FunctionRef<Header(File&, const CurrentHeader&)> update,
                      FunctionRef<void(File&)> afterWrite);

// Byte offset just past the table that `header` describes.
inline std::int64_t tableEnd(const Header& header) {
  return header.indexLoc + indexEntryLength * header.stats.numFortunes;
}

}  // namespace detail
}  // namespace tallowmere
