// Draws fortunes from a collection: the files and directories named on the command line, or
// else the fortune files along the search path.
// Usage: collection [FILE|DIR]...
// The regions marked [guide:...] are the snippets of docs/guide.md.
#include <cstdint>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include <tallowmere/Data/Fortune.hpp>

using namespace tallowmere;

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);

  // [guide:search-path]
  // Where fortunes of a kind are looked for: TALLOWMERE_PATH_NORMAL (or TALLOWMERE_PATH) when
  // set, else <datadir>/data/normal. Every call reads the environment and the directories anew.
  for (const SearchPathEntry& entry : getFortuneSearchPath(FortuneType::Normal)) {
    std::cout << "searching " << entry.directory << (entry.recursive ? " and below\n" : "\n");
  }
  std::vector<std::string> files = defaultFortuneFiles(FortuneType::Normal);
  // [guide:end]

  // [guide:files]
  // A directory stands for the fortune files below it (index files and data files skipped).
  if (!arguments.empty()) {
    files.clear();
    for (const std::string& argument : arguments) {
      if (Env::disk().status(argument).isDirectory()) {
        for (std::string& found : listFortuneFiles(/*recursive=*/true, argument)) {
          files.push_back(std::move(found));
        }
      } else {
        files.push_back(argument);
      }
    }
  }
  // [guide:end]
  if (files.empty()) {
    std::cerr << "collection: no fortune files\n";
    return 1;
  }

  // [guide:draw]
  // One fortune, every fortune of the files equally likely. The files are opened, their index
  // headers read, one fortune read, and the files closed again.
  std::cout << randomFortune(files) << '\n';
  // [guide:end]

  // [guide:repeatable]
  // The draws come from one process-wide generator; seeding it makes a run repeatable.
  seedGlobalGenerator(2026);
  const std::string first = randomFortune(files);
  seedGlobalGenerator(2026);
  const bool same = randomFortune(files) == first;  // true
  // [guide:end]
  if (!same) {
    std::cerr << "collection: the same seed drew different fortunes\n";
    return 1;
  }

  // [guide:weights]
  // Every file equally likely instead of every fortune: a distribution of your own over the
  // open files (an empty file gets no weight, for it has nothing to draw).
  withFortuneFiles(U'%', /*writable=*/false, files, [](const std::vector<FortuneFile>& open) {
    std::vector<std::pair<float, FortuneFile>> weighted;
    for (const FortuneFile& file : open) {
      weighted.emplace_back(getNumFortunes(file) > 0 ? 1.0f : 0.0f, file);
    }
    std::cout << randomFortuneFromRandomFile(fromWeightedList(std::move(weighted))) << '\n';
  });
  // [guide:end]

  // [guide:filter]
  // Only short fortunes: the entries that pass a test, every one of them equally likely.
  withFortuneFiles(U'%', false, files, [](const std::vector<FortuneFile>& open) {
    const Categorical<FilteredFortunes> shortOnes =
        fortuneDistributionWhere([](const FortuneFile&, std::int64_t,
                                    const IndexEntry& entry) { return entry.stringChars <= 60; },
                                 open);
    if (shortOnes.totalWeight() == 0) {
      std::cout << "no fortune is that short\n";
      return;
    }
    SplitMix64 generator = splitGlobalGenerator();
    const auto& [file, positions] = shortOnes.sample(generator);
    std::cout << getFortune(file, positions.sample(generator)) << '\n';
  });
  // [guide:end]
  return 0;
}
