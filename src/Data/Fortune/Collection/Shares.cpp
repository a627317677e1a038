// Shares of the draws: "30% wisdom work computing" gives wisdom 30% of the draws and spreads
// the other 70% over work and computing.
#include "Data/Fortune/Collection/Shares.hpp"

#include <cstdio>
#include <cstdlib>

namespace tallowmere {

namespace {

// Shares are written with a few decimals, so sums are compared with some slack.
constexpr double slack = 1e-9;

// The number of "N%" or "N.M%"; no value for any other word.
std::optional<double> readPercent(const std::string& word) {
  std::size_t digits = 0;
  std::size_t at = 0;
  const auto digitRun = [&word, &at, &digits] {
    while (at < word.size() && word[at] >= '0' && word[at] <= '9') ++at, ++digits;
  };
  digitRun();
  if (digits == 0) return std::nullopt;
  if (at < word.size() && word[at] == '.') {
    ++at;
    const std::size_t before = digits;
    digitRun();
    if (digits == before) return std::nullopt;
  }
  if (at + 1 != word.size() || word[at] != '%') return std::nullopt;
  return std::strtod(word.c_str(), nullptr);
}

// 1 for a file that holds something drawable in the equal mode, its count otherwise.
double unitOf(const detail::FileCount& file, bool equal) {
  if (equal) return file.count > 0 ? 1.0 : 0.0;
  return file.count;
}

[[noreturn]] void badShares(const std::string& message) {
  throw IOError::userError(message, {}, ErrorReason::BadArgument);
}

}  // namespace

std::vector<ShareOperand> parseShares(std::span<const std::string> operands) {
  std::vector<ShareOperand> sources;
  double total = 0;
  bool unweighted = false;
  for (std::size_t i = 0; i < operands.size(); ++i) {
    const std::optional<double> percent = readPercent(operands[i]);
    if (!percent) {
      sources.push_back({operands[i], std::nullopt});
      unweighted = true;
      continue;
    }
    if (i + 1 == operands.size()) {
      badShares("the share " + operands[i] + " must be followed by a file or directory");
    }
    if (*percent > 100 + slack) {
      badShares("the share " + operands[i] + " of " + operands[i + 1] + " is above 100%");
    }
    total += *percent;
    sources.push_back({operands[i + 1], percent});
    ++i;
  }
  if (total > 100 + slack) {
    badShares("the shares add up to " + showPercent(total) + ", more than 100%");
  }
  if (!sources.empty() && !unweighted && total < 100 - slack) {
    badShares("the shares add up to " + showPercent(total) +
              ", and no file without a share is left to take the other " +
              showPercent(100 - total));
  }
  return sources;
}

std::vector<double> detail::spreadShares(std::span<const ShareOperand> sources,
                                         std::span<const FileCount> files, bool equal) {
  // The unweighted sources act as one source that takes what the shares leave over.
  double rest = 100;
  for (const ShareOperand& source : sources) rest -= source.percent.value_or(0);
  const auto poolOf = [&sources](const FileCount& file) -> std::optional<std::size_t> {
    if (sources[file.source].percent) return file.source;
    return std::nullopt;  // the pool of unweighted sources
  };
  const auto poolTotal = [&](std::optional<std::size_t> pool) {
    double total = 0;
    for (const FileCount& file : files) {
      if (poolOf(file) == pool) total += unitOf(file, equal);
    }
    return total;
  };

  std::vector<double> shares;
  shares.reserve(files.size());
  for (const FileCount& file : files) {
    const std::optional<std::size_t> pool = poolOf(file);
    const double poolShare = pool ? *sources[*pool].percent : rest;
    const double total = poolTotal(pool);
    shares.push_back(total > 0 ? poolShare * unitOf(file, equal) / total : 0.0);
  }
  return shares;
}

std::string showPercent(double percent) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", percent);
  std::string shown = text;
  while (shown.back() == '0') shown.pop_back();
  if (shown.back() == '.') shown.pop_back();
  return shown + "%";
}

}  // namespace tallowmere
