// Reads a fortune file: its number of fortunes, fortunes by number, and every fortune in turn.
// Usage: read [FILE]   (without FILE, the first fortune file of the installed collection)
// The regions marked [guide:...] are the snippets of docs/guide.md.
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include <tallowmere/Data/Fortune.hpp>

using namespace tallowmere;

int main(int argc, char** argv) {
  std::string path;
  if (argc > 1) {
    path = argv[1];
  } else {
    const std::vector<std::string> installed = defaultFortuneFiles(FortuneType::Normal);
    if (installed.empty()) {
      std::cerr << "read: no fortune file given and none installed\n";
      return 1;
    }
    path = installed.front();
  }

  // [guide:open]
  // Read-only, with '%' as the delimiter. Nothing is opened yet: only the path is checked.
  FortuneFile file = openFortuneFile(U'%', /*writable=*/false, path);

  const std::int64_t count = getNumFortunes(file);  // from the index header
  std::cout << path << ": " << count << " fortunes\n";
  if (count > 0) {
    std::cout << "the first:\n" << getFortune(file, 0) << '\n';
    std::cout << "the last:\n" << getFortune(file, count - 1) << '\n';
  }

  closeFortuneFile(file);  // closes the text file and the index
  // [guide:end]

  // [guide:scoped]
  // withFortuneFile opens the file, runs the action and closes the file on every exit path.
  const std::int64_t longest = withFortuneFile(U'%', false, path, [](const FortuneFile& f) {
    std::int64_t chars = 0;
    // One pass over the text in bounded memory; the callback must not use `f` itself.
    forEachFortune(f, [&](std::int64_t, const IndexEntry& entry, std::string_view) {
      chars = std::max(chars, entry.stringChars);
    });
    return chars;
  });
  std::cout << "the longest fortune has " << longest << " characters\n";
  // [guide:end]

  // [guide:check]
  // Is the index on disk sound, and does it list the fortunes of the text?
  withFortuneFile(U'%', false, path, [](const FortuneFile& f) {
    const IndexFileReport report = checkIndexFile(f);
    if (report.state != IndexFileState::Sound) {
      std::cout << fortuneIndexPath(f) << " does not match the text; rebuild it with "
                << "rebuildIndex on a writable handle, or `tallowmere index`\n";
    }
  });
  // [guide:end]
  return 0;
}
