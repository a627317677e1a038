// Random selection of fortunes, every fortune of a collection equally likely.
//
// A selection draws in two stages: a file from a distribution over the open files weighted by
// their fortune counts, then a position uniformly within that file. Each selection splits the
// process-wide generator once (Platform/Random.hpp; seedGlobalGenerator makes runs
// repeatable) and draws only from its private half, so concurrent selections need no lock of
// their own.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <tallowmere/Data/Fortune/Categorical.hpp>
#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include <tallowmere/Data/Fortune/FunctionRef.hpp>
#include <tallowmere/Data/Fortune/Index.hpp>
#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

// The answer of randomFortune when it is given no paths and finds no fortune file.
inline constexpr std::string_view noFortuneFilesText =
    "Very few profundities can be expressed in less than 80 characters.";

// One fortune drawn from the files at `paths`, every fortune equally likely: a draw from
// Collection::ofFiles(paths) (Collection.hpp), read-only with the delimiter '%'. No paths: the
// collection of Normal (its search path, else the classic collection), and noFortuneFilesText
// (opening nothing) when it has no fortune file. Files are read through FILE.ix, else a
// FILE.dat that fits, else indexed in memory; each file once; empty fortunes never drawn; no
// file is held open between reads, so any number of files work. Failures of opening and reading
// propagate; a collection without a single fortune throws an IOError of reason NothingToDraw.
[[nodiscard]] TALLOWMERE_API std::string randomFortune(const std::vector<std::string>& paths);

// The open files, each weighted by its fortune count (read from its index header) as a
// 32-bit float. No files: throws an IOError of the user-error kind
// "defaultFortuneDistribution: no fortune files".
[[nodiscard]] TALLOWMERE_API Categorical<FortuneFile> defaultFortuneDistribution(
    std::span<const FortuneFile> files);

// A file paired with the uniform distribution over its positions that passed a test.
using FilteredFortunes = std::pair<FortuneFile, Categorical<std::int64_t>>;

// For each file in order, the positions whose entry passes test(file, position, entry); the
// test runs once per entry, file by file, in position order. Each file is weighted by its
// number of passing positions (0 when none passes). No files give a distribution with no
// events. A failure of the test or of reading an index propagates.
[[nodiscard]] TALLOWMERE_API Categorical<FilteredFortunes> fortuneDistributionWhere(
    FunctionRef<bool(const FortuneFile&, std::int64_t, const IndexEntry&)> test,
    std::span<const FortuneFile> files);

// The text of a fortune at a uniformly drawn position of the file that `file` yields: splits
// the process-wide generator, samples `file` once, reads the file's count from its index
// header and draws the position. A file without fortunes throws getFortune's out-of-range
// IOError. The file must be open and stays open.
[[nodiscard]] TALLOWMERE_API std::string randomFortuneFromRandomFile(const RVar<FortuneFile>& file);

}  // namespace tallowmere
