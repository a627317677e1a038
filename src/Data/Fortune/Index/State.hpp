// The shared state behind an Index handle (internal).
#pragma once

#include <memory>
#include <optional>
#include <utility>

#include "Data/Fortune/Index/Handle.hpp"
#include "Platform/Guarded.hpp"

namespace tallowmere {

struct Index::State {
  State(std::unique_ptr<File> indexFile, const Header& current)
      : file(std::move(indexFile)), header("index", current) {}

  // Serialises its own operations, so closeIndex may close it without taking the lock.
  const std::unique_ptr<File> file;
  // The current header; no value once the index is closed. Its lock is the index's only lock.
  detail::Guarded<std::optional<Header>> header;
};

namespace detail {

// Byte offset just past the table that `header` describes.
inline std::int64_t tableEnd(const Header& header) {
  return header.indexLoc + indexEntryLength * header.stats.numFortunes;
}

}  // namespace detail
}  // namespace tallowmere
