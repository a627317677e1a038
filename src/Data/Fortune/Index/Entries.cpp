#include <tallowmere/Data/Fortune/Index/Entries.hpp>

#include <algorithm>
#include <memory>
#include <string>

#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/Index/State.hpp"

namespace tallowmere {
namespace {

constexpr std::size_t kEntryBytes = static_cast<std::size_t>(indexEntryLength);
// Entries gathered into one write by unfoldEntries: up to 1 MiB, bounded memory and few system
// calls (a table of a million entries takes 16 writes).
constexpr std::size_t kEntriesPerWrite = 65536;
constexpr std::int64_t kWritebackBytes = std::int64_t{1} << 20;

[[noreturn]] void throwOutOfRange(std::int64_t i) {
  throw IOError::userError("getEntry: index out of range: " + std::to_string(i), {},
                           ErrorReason::OutOfRange);
}

}  // namespace

IndexEntry getEntry(const Index& index, std::int64_t i) {
  if (i < 0) throwOutOfRange(i);
  return withIndex(index, [i](File& file, const CurrentHeader& header) {
    if (i >= header.numFortunes()) throwOutOfRange(i);
    return decodeIndexEntry(file.readAt(header.indexLoc() + indexEntryLength * i, kEntryBytes), 0)
        .first;
  });
}

namespace {

// Entries [first, first + count) of a table known to hold them, decoded from one read.
std::vector<IndexEntry> readEntries(File& file, const CurrentHeader& header, std::int64_t first,
                                    std::int64_t count) {
  const auto wanted = static_cast<std::size_t>(count);
  const std::string bytes =
      file.readAt(header.indexLoc() + indexEntryLength * first, wanted * kEntryBytes);
  std::vector<IndexEntry> entries;
  entries.reserve(bytes.size() / kEntryBytes);  // a table cut short fails while decoding
  std::size_t at = 0;
  for (std::size_t i = 0; i < wanted; ++i) {
    const auto [entry, next] = decodeIndexEntry(bytes, at);
    entries.push_back(entry);
    at = next;
  }
  return entries;
}

}  // namespace

std::vector<IndexEntry> getEntries(const Index& index) {
  return withIndex(index, [](File& file, const CurrentHeader& header) {
    return readEntries(file, header, 0, header.numFortunes());
  });
}

std::vector<IndexEntry> getEntries(const Index& index, std::int64_t first, std::int64_t count) {
  if (first < 0 || count < 0) throwOutOfRange(first < 0 ? first : count);
  return withIndex(index, [first, count](File& file, const CurrentHeader& header) {
    const std::int64_t n = header.numFortunes();
    const std::int64_t take = first >= n ? 0 : std::min(count, n - first);
    return readEntries(file, header, first, take);
  });
}

void appendEntries(const Index& index, std::span<const IndexEntry> entries) {
  if (entries.empty()) return;
  modifyHeader(index, [entries](File& file, const CurrentHeader& current) {
    const Header& header = current.get();
    std::string bytes;
    encodeIndexEntries(entries, bytes);
    file.writeAt(detail::tableEnd(header), bytes);
    FortuneStats stats = header.stats;
    for (const IndexEntry& entry : entries) stats += indexEntryStats(entry);
    return Header{stats, header.indexLoc};
  });
}

void appendEntry(const Index& index, const IndexEntry& entry) { appendEntries(index, {&entry, 1}); }

void unfoldEntryBatches(const Index& index, FunctionRef<std::span<const IndexEntry>()> next) {
  modifyHeader(index, [next](File& file, const CurrentHeader& current) {
    const Header& header = current.get();
    FortuneStats stats = header.stats;
    std::int64_t writeAt = detail::tableEnd(header);
    // The entries are encoded into `run` and written a run at a time. It holds up to a full
    // write (kEntriesPerWrite entries) only for a table that long, and is never cleared: every
    // byte written from it was encoded first.
    std::unique_ptr<char[]> run;
    std::size_t capacity = 0;  // bytes of `run`
    std::size_t used = 0;      // bytes of `run` encoded
    // A long table is handed to the disk a piece at a time as it is written, so that the sync
    // that usually follows a rebuild does not wait for all of it at the end.
    const std::int64_t tableStart = writeAt;
    std::int64_t handedOver = writeAt;
    const auto writeRun = [&] {
      file.writeAt(writeAt, std::string_view(run.get(), used));
      writeAt += static_cast<std::int64_t>(used);
      used = 0;
      if (writeAt - handedOver >= kWritebackBytes) {
        file.startWriteback(handedOver, writeAt - handedOver);
        handedOver = writeAt;
      }
    };
    for (std::span<const IndexEntry> batch = next(); !batch.empty(); batch = next()) {
      stats += indexEntryStats(batch);
      while (!batch.empty()) {
        if (used == capacity) {  // full, or not made yet: write it and let it grow
          if (used > 0) writeRun();
          const std::size_t bytes =
              std::min(kEntriesPerWrite, std::max(2 * capacity / kEntryBytes, batch.size())) *
              kEntryBytes;
          if (bytes > capacity) {
            run.reset();  // nothing in it is kept: freed before the larger one is made
            run = std::make_unique_for_overwrite<char[]>(bytes);
            capacity = bytes;
          }
        }
        const std::size_t take = std::min((capacity - used) / kEntryBytes, batch.size());
        used = static_cast<std::size_t>(encodeIndexEntries(batch.first(take), run.get() + used) -
                                        run.get());
        batch = batch.subspan(take);
      }
    }
    if (used > 0) writeRun();
    // The rest of a long table too: the sync then finds it already on its way to the disk.
    if (handedOver > tableStart && writeAt > handedOver) {
      file.startWriteback(handedOver, writeAt - handedOver);
    }
    return Header{stats, header.indexLoc};
  });
}

void unfoldEntries(const Index& index, FunctionRef<std::optional<IndexEntry>()> next) {
  IndexEntry entry;
  unfoldEntryBatches(index, [&]() -> std::span<const IndexEntry> {
    const std::optional<IndexEntry> got = next();
    if (!got) return {};
    entry = *got;
    return {&entry, 1};
  });
}

void clearIndex(const Index& index) {
  // The table is cut only once the empty header is stored: a failure or a stopped process
  // before that leaves the old table whole, and one after it an empty index with stale bytes
  // behind it, never a header that promises a missing table. A file cut below the header's
  // length is first extended to it, so that the empty header fits.
  detail::modifyHeaderThen(
      index,
      [](File& file, const CurrentHeader& current) {
        (void)current.get();  // a closed index fails here, before the file is touched
        if (file.size() < indexHeaderLength) {
          file.setSize(indexHeaderLength);
          // Stored here even when the header held in memory is empty already.
          file.writeAt(0, encodeHeader(emptyHeader));
        }
        return emptyHeader;
      },
      [](File& file) { file.setSize(indexHeaderLength); });
}

std::optional<IndexProblem> checkIndex(const Index& index) {
  Index::State& state = detail::IndexAccess::state(index);
  try {
    detail::HeaderLock held(state.header);
    const std::optional<Header>& header = state.header.value();
    if (!header) return IndexProblem::AccessToClosedIndex();
    return checkIndex_(*state.file(), *header);
  } catch (const IndexProblemError& error) {
    return error.problem();
  }
}

void rebuildStats(const Index& index) {
  modifyHeader(index, [](File& file, const CurrentHeader& current) {
    return scanStats(file, current.get());
  });
}

}  // namespace tallowmere
