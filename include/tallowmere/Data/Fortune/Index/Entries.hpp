// Operations on an index's entry table, and its maintenance.
//
// Entry i lies at indexLoc + 16 * i. Appends go to the end of the table (not the end of the
// file) and keep the header's statistics up to date. Every operation takes the index's lock
// (see Handle.hpp) for its whole run.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <tallowmere/Data/Fortune/FunctionRef.hpp>
#include <tallowmere/Data/Fortune/Index/Format.hpp>
#include <tallowmere/Data/Fortune/Index/Handle.hpp>
#include <tallowmere/Data/Fortune/Index/Problems.hpp>
#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

// Entry number i, counted from 0. A number below 0 or not below the count throws an IOError
// of the user-error kind "getEntry: index out of range: <i>"; a table cut short throws the
// decoder's "too few bytes".
[[nodiscard]] TALLOWMERE_API IndexEntry getEntry(const Index& index, std::int64_t i);

// All entries in table order, read with one read.
[[nodiscard]] TALLOWMERE_API std::vector<IndexEntry> getEntries(const Index& index);

// The entries from number `first` on, at most `count` of them (fewer at the end of the table,
// none from its end on), read with one read. A negative `first` or `count` is out of range
// ("getEntry: index out of range: <first>").
[[nodiscard]] TALLOWMERE_API std::vector<IndexEntry> getEntries(const Index& index,
                                                                std::int64_t first,
                                                                std::int64_t count);

// Appends entries after the last one and combines their statistics into the header. An empty
// sequence does nothing at all. A header that then fails its checks is thrown as an
// IndexProblem, and the header (in memory and on disk) stays as it was.
TALLOWMERE_API void appendEntries(const Index& index, std::span<const IndexEntry> entries);
TALLOWMERE_API void appendEntry(const Index& index, const IndexEntry& entry);

// Appends the entries that `next` returns until it returns none, holding the lock throughout
// (`next` must not use this index). Entries are written in runs of up to 4096 as they come;
// the header is written once at the end. If `next` or a write fails, the header stays as it
// was and the entries written lie beyond the table's end, to be overwritten by later appends.
TALLOWMERE_API void unfoldEntries(const Index& index,
                                  FunctionRef<std::optional<IndexEntry>()> next);
// The same for entries that come in batches: appends the entries of each batch that `next`
// returns, until it returns an empty one. A batch need only stay valid until the next call.
TALLOWMERE_API void unfoldEntryBatches(const Index& index,
                                       FunctionRef<std::span<const IndexEntry>()> next);

// Cuts the file to the 64-byte header and makes the header emptyHeader.
TALLOWMERE_API void clearIndex(const Index& index);

// checkIndex_ of the current header under the lock, as a value: an IndexProblem thrown on the
// way (AccessToClosedIndex on a closed index) is returned, not thrown. Other failures
// propagate.
[[nodiscard]] TALLOWMERE_API std::optional<IndexProblem> checkIndex(const Index& index);

// Recomputes the header's statistics from its entries (scanStats) and stores them through
// modifyHeader. Never changes the number of entries.
TALLOWMERE_API void rebuildStats(const Index& index);

}  // namespace tallowmere
