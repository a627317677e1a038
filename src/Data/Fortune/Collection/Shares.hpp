// How shares of the draws are spread over the files of a collection (internal).
//
// Within an operand with a share, and among all operands without one together, the share is
// spread over the files by their number of drawable fortunes, so that each of those fortunes is
// equally likely; with Weighting::ByFile, evenly over the files that hold a drawable fortune.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include <tallowmere/Data/Fortune/Collection.hpp>

namespace tallowmere::detail {

// One file of an operand, with the number of its fortunes that may be drawn.
struct FileCount {
  std::size_t source;  // index into the operands
  double count;
};

// The share of each file, in percent, in the order of `files`. An operand whose files hold
// nothing drawable leaves its share unused, so the shares may add up to less than 100.
std::vector<double> spreadShares(std::span<const ShareOperand> sources,
                                 std::span<const FileCount> files, bool equal);

}  // namespace tallowmere::detail
