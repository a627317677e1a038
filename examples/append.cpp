// Creates a fortune file, appends fortunes to it, loads many at once, and rebuilds its index.
// It works in a new directory below $TMPDIR (or /tmp) and removes it at the end.
// The regions marked [guide:...] are the snippets of docs/guide.md.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <system_error>

#include <tallowmere/Data/Fortune.hpp>

using namespace tallowmere;

// A new, empty directory below the temporary directory.
static std::filesystem::path makeScratchDirectory() {
  std::string name = (std::filesystem::temp_directory_path() / "tallowmere-append-XXXXXX").string();
  if (mkdtemp(name.data()) == nullptr)
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  return name;
}

static std::string contentsOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

static int run(const std::string& path) {
  // [guide:append]
  // Writable: the text file and its index, mine.ix, are created when first needed.
  FortuneFile file = openFortuneFile(U'%', /*writable=*/true, path);
  appendFortune(file, "Never trust a quiet printer.");
  appendFortune(file, "A fortune may have many lines.\nThis one has two.");
  std::cout << getNumFortunes(file) << " fortunes, indexed in " << fortuneIndexPath(file) << '\n';
  closeFortuneFile(file);
  // [guide:end]

  // The text holds the fortunes with a delimiter line between them.
  std::cout << contentsOf(path);
  if (contentsOf(path) !=
      "Never trust a quiet printer.\n%\n"
      "A fortune may have many lines.\nThis one has two.\n") {
    std::cerr << "append: unexpected text in " << path << '\n';
    return 1;
  }

  // [guide:bulk]
  // A bulk load that can be repeated from the start if the machine goes down: appends do not
  // wait for the disk, and the files are synced once at the end.
  FortuneFileOptions options;
  options.sync = false;
  withFortuneFile(U'%', true, path, options, [](const FortuneFile& f) {
    for (int i = 0; i < 1000; ++i) {
      appendFortune(f, "Fortune number " + std::to_string(i) + " of the bulk load.");
    }
    syncFortuneFile(f);  // the text, the index and their names in the directory
  });
  // [guide:end]

  // [guide:rebuild]
  // Rebuilding writes a new index from the text and renames it over the old one.
  withFortuneFile(U'%', true, path, [](const FortuneFile& f) {
    rebuildIndex(f);
    const IndexFileReport report = checkIndexFile(f);
    std::cout << fortuneFilePath(f) << ": " << report.numFortunes << " fortunes, index "
              << (report.state == IndexFileState::Sound ? "sound" : "not sound") << '\n';
  });
  // [guide:end]

  const std::int64_t count = withFortuneFile(U'%', false, path, getNumFortunes);
  if (count != 1002) {
    std::cerr << "append: expected 1002 fortunes, found " << count << '\n';
    return 1;
  }
  return 0;
}

int main() {
  const std::filesystem::path directory = makeScratchDirectory();
  int status = 1;
  try {
    status = run((directory / "mine").string());
  } catch (const std::exception& error) {
    std::cerr << "append: " << error.what() << '\n';
  }
  std::filesystem::remove_all(directory);
  return status;
}
