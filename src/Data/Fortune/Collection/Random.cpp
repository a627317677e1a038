#include <tallowmere/Data/Fortune/Random.hpp>

#include <tallowmere/Data/Fortune/Collection.hpp>
#include <tallowmere/Data/Fortune/Open.hpp>
#include <tallowmere/Data/Fortune/SearchPath.hpp>
#include <tallowmere/Data/Fortune/Traverse.hpp>

namespace tallowmere {
namespace {

// Read under the fortune file's own locks, like getFortune: a rebuild of the same file running
// on another thread is never seen half done (its index cleared and not yet refilled, with no
// fortunes to draw).
std::int64_t fortuneCount(const FortuneFile& file) { return getNumFortunes(file); }

}  // namespace

std::string randomFortune(const std::vector<std::string>& paths) {
  if (paths.empty()) {
    const Collection collection = Collection::ofKind();
    if (collection.empty()) return std::string(noFortuneFilesText);
    return collection.draw().text;
  }
  return Collection::ofFiles(paths).draw().text;
}

Categorical<FortuneFile> defaultFortuneDistribution(std::span<const FortuneFile> files) {
  if (files.empty())
    throw IOError::userError("defaultFortuneDistribution: no fortune files", {},
                             ErrorReason::NothingToDraw);
  std::vector<std::pair<float, FortuneFile>> weighted;
  weighted.reserve(files.size());
  for (const FortuneFile& file : files) {
    weighted.emplace_back(static_cast<float>(fortuneCount(file)), file);
  }
  return fromWeightedList(std::move(weighted));
}

Categorical<FilteredFortunes> fortuneDistributionWhere(
    FunctionRef<bool(const FortuneFile&, std::int64_t, const IndexEntry&)> test,
    std::span<const FortuneFile> files) {
  std::vector<std::pair<float, FilteredFortunes>> weighted;
  weighted.reserve(files.size());
  for (const FortuneFile& file : files) {
    const std::vector<std::int64_t> passing = filterFortunesWithIndexM(
        [&](std::int64_t i, const IndexEntry& entry) { return test(file, i, entry); }, file);
    Categorical<std::int64_t> inner = fromObservations(passing);
    const auto weight = static_cast<float>(inner.numEvents());
    weighted.emplace_back(weight, FilteredFortunes(file, std::move(inner)));
  }
  return fromWeightedList(std::move(weighted));
}

std::string randomFortuneFromRandomFile(const RVar<FortuneFile>& file) {
  SplitMix64 generator = splitGlobalGenerator();
  const FortuneFile chosen = sampleFrom(generator, file);
  const std::int64_t count = fortuneCount(chosen);
  return getFortune(chosen, uniformInt64(generator, 0, count - 1));
}

}  // namespace tallowmere
