// Draws fortunes from a collection: the files, directories and shares named on the command line,
// or else the normal fortunes that the `tallowmere` command draws from. It also shows a
// collection seeing a file change (in a new directory below $TMPDIR, or /tmp, removed at the
// end) and the layer below the collection: the search path and distributions of your own over
// open fortune files.
// Usage: collection [[N%] FILE|DIR]...
// Exits 0 when everything went as docs/guide.md describes.
// The regions marked [guide:...] are the snippets of docs/guide.md.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <tallowmere/Data/Fortune.hpp>
#include <tallowmere/Data/Fortune/Collection.hpp>

using namespace tallowmere;

// A collection made before a file changes, asked again after refresh().
static bool showRefresh() {
  std::string directory =
      (std::filesystem::temp_directory_path() / "tallowmere-collection-XXXXXX").string();
  if (mkdtemp(directory.data()) == nullptr)
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  const std::string path = directory + "/mine";
  bool seen = false;
  try {
    const FortuneFile file = openFortuneFile(U'%', /*writable=*/true, path);
    appendFortune(file, "Written before the collection was made.");
    // [guide:refresh]
    // A collection kept for long sees its files change: it looks at them again (a status call
    // each) when what it knows is older than CollectionOptions::recheckAfter, a second by
    // default, and at once after refresh().
    const Collection mine = Collection::ofOperands(std::vector{path});
    appendFortune(file, "Written after the collection was made.");
    mine.refresh();
    seen = mine.count() == 2;  // true
    // [guide:end]
    closeFortuneFile(file);
  } catch (...) {
    std::filesystem::remove_all(directory);
    throw;
  }
  std::filesystem::remove_all(directory);
  return seen;
}

static bool run(const std::vector<std::string>& arguments) {
  // [guide:kind]
  // The normal fortunes that `tallowmere` draws from: the files along the search path, or else
  // the classic collection. Made once and kept; copies share it, and so may threads.
  const Collection installed = Collection::ofKind();
  std::cout << installed.files().size() << " fortune files in " << installed.where() << '\n';
  // [guide:end]

  // [guide:operands]
  // Operands as the command takes them: files, directories (the fortune files directly in
  // them) and names of the kind's collection, each perhaps after its share of the draws
  // ("30% wisdom work"). No operand: the collection of the kind, as ofKind makes it.
  const Collection collection = Collection::ofOperands(arguments);
  for (const FileShare& share : collection.shares()) {
    std::cout << showPercent(share.percent) << ' ' << share.path << ", " << share.count
              << " fortunes\n";
  }
  // [guide:end]
  if (collection.empty()) {
    std::cerr << "collection: no fortune files\n";
    return false;
  }

  // [guide:draw]
  // One fortune, every fortune equally likely (within each share): its file, its number there
  // (as read and `tallowmere get PATH N` count it) and its text.
  const DrawnFortune drawn = collection.draw();
  std::cout << '(' << drawn.path << " #" << drawn.number << ")\n" << drawn.text << '\n';
  // [guide:end]

  // [guide:repeatable]
  // Each draw splits the process-wide generator (seedGlobalGenerator seeds it); a generator of
  // your own makes draws repeatable.
  SplitMix64 first(2026);
  SplitMix64 second(2026);
  const bool same = collection.draw({}, first) == collection.draw({}, second);  // true
  // [guide:end]
  if (!same) {
    std::cerr << "collection: the same seed drew different fortunes\n";
    return false;
  }

  if (!showRefresh()) {
    std::cerr << "collection: refresh() did not see the fortune appended\n";
    return false;
  }

  // [guide:search-path]
  // Where fortunes of a kind are looked for: TALLOWMERE_PATH_NORMAL (or TALLOWMERE_PATH) when
  // set, else <datadir>/data/normal. Every call reads the environment and the directories anew.
  for (const SearchPathEntry& entry : getFortuneSearchPath(FortuneType::Normal)) {
    std::cout << "searching " << entry.directory << (entry.recursive ? " and below\n" : "\n");
  }
  const std::vector<std::string> alongThePath = defaultFortuneFiles(FortuneType::Normal);
  // [guide:end]
  std::cout << alongThePath.size() << " fortune files along the search path\n";

  // [guide:files]
  // The layer below works on FortuneFile handles, opened by path: here the collection's files.
  std::vector<std::string> files;
  for (const CollectionFile& file : collection.files()) files.push_back(file.path);
  // [guide:end]

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
  return true;
}

int main(int argc, char** argv) {
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc)) ? 0 : 1;
  } catch (const std::exception& error) {
    std::cerr << "collection: " << error.what() << '\n';
    return 1;
  }
}
