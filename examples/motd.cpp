// Prints a message of the day: one short fortune, of at most 160 characters, drawn from the
// fortune files and directories named on the command line, or else from the normal fortunes
// that the `tallowmere` command draws from (those installed along the search path, or the
// classic collection when nothing of tallowmere's own is installed).
// Usage: motd [FILE|DIR]...
// Exits 0 after printing the fortune; 1 with a message when there is no short fortune to
// print, 2 when the files cannot be read.
// The regions marked [guide:...] are the snippets of docs/guide.md.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune/Collection.hpp>

using namespace tallowmere;

int main(int argc, char** argv) {
  const std::vector<std::string> operands(argv + 1, argv + argc);
  try {
    // [guide:motd]
    // The operands as the command takes them; none: the collection that `tallowmere` uses.
    const Collection collection = Collection::ofOperands(operands, CollectionOptions{});
    if (collection.empty()) {
      std::cerr << "motd: no fortune files; looked in " << collection.where() << '\n';
      return 1;
    }
    // Every fortune of at most 160 characters equally likely; the others are never drawn.
    const DrawnFortune drawn =
        collection.draw(FortuneFilter{.length = LengthFilter::Short, .lengthLimit = 160});
    std::cout << drawn.text << '\n';
    // [guide:end]
  } catch (const std::exception& error) {
    // what() says what failed and names the file concerned; the reason tells "there is no
    // short fortune" (NothingToDraw) from "a file cannot be read" without parsing it.
    std::cerr << "motd: " << error.what() << '\n';
    return errorReason(error) == ErrorReason::NothingToDraw ? 1 : 2;
  }
  return 0;
}
