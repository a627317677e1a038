// The shared state behind an Index handle (internal).
#pragma once

#include <memory>
#include <optional>
#include <utility>

#include "Data/Fortune/Index/Handle.hpp"
#include "Platform/Guarded.hpp"

namespace tallowmere {

// The header cell's value.
struct HeaderSlot {
  // The current header; no value once the index is closed.
  std::optional<Header> current;
  // True while the file holds other statistics than `current`: opening repaired them in
  // memory, and the next header update writes the repair even if it changes nothing else.
  bool storedDiffers = false;
};

struct Index::State {
  State(std::unique_ptr<File> indexFile, const Header& current, bool storedDiffers)
      : file(std::move(indexFile)), header("index", HeaderSlot{current, storedDiffers}) {}

  // Serialises its own operations, so closeIndex may close it without taking the lock.
  const std::unique_ptr<File> file;
  // Its lock is the index's only lock.
  detail::Guarded<HeaderSlot> header;
};

namespace detail {

// Byte offset just past the table that `header` describes.
inline std::int64_t tableEnd(const Header& header) {
  return header.indexLoc + indexEntryLength * header.stats.numFortunes;
}

}  // namespace detail
}  // namespace tallowmere
