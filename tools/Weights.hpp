// Shares of the draws: "tallowmere 30% wisdom work computing" gives wisdom 30% of the draws
// and spreads the other 70% over work and computing.
//
// A source is one command-line operand (a file, a directory, or a name looked up along the
// search path) with the share written before it, if any. Within a weighted source, and among
// all unweighted sources together, the share is spread over the files by their number of
// drawable fortunes, so that each of those fortunes is equally likely; in the "equal" mode,
// evenly over the files that hold a drawable fortune.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tallowmere::cli {

struct Source {
  std::string operand;
  std::optional<double> percent;  // the share written before it, from 0 to 100
};

// Reads "[N%] FILE|DIR ..." into sources. N may have a fraction ("12.5%"). Throws BadUsage
// for a share with nothing after it, a share above 100%, shares that add up to more than
// 100%, and shares that add up to less than 100% when no unweighted source is left to take
// the rest.
std::vector<Source> parseSources(std::span<const std::string> operands);

// One file of a source, with the number of its fortunes that may be drawn.
struct FileCount {
  std::size_t source;  // index into the sources
  double count;
};

// The share of each file, in percent, in the order of `files`. A source whose files hold
// nothing drawable leaves its share unused, so the shares may add up to less than 100.
std::vector<double> spreadShares(std::span<const Source> sources, std::span<const FileCount> files,
                                 bool equal);

// A share for people: "30%", "12.5%", "33.33%".
std::string showPercent(double percent);

}  // namespace tallowmere::cli
