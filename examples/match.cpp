// Prints every fortune that matches a POSIX extended regular expression, in the fortune files
// and directories named on the command line, or else in the normal fortunes that the
// `tallowmere` command draws from. Each is preceded by a line "(PATH #N)": it is fortune N of
// PATH, as `tallowmere get PATH N` prints it.
// Usage: match REGEX [FILE|DIR]...
// Exits 0 when a fortune matched, 1 when none did, as grep does; 2 for a usage error, a bad
// expression or a file that cannot be read.
// The regions marked [guide:...] are the snippets of docs/guide.md.
#include <clocale>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune/Collection.hpp>
#include <tallowmere/Data/Fortune/Pattern.hpp>

using namespace tallowmere;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: match REGEX [FILE|DIR]...\n";
    return 2;
  }
  const std::vector<std::string> operands(argv + 2, argv + argc);
  // An expression matches in the LC_CTYPE locale, which the library leaves as it finds it: in
  // the "C" locale a program starts in, "." matches a byte, not a character.
  std::setlocale(LC_CTYPE, "");
  try {
    // [guide:match]
    // Compiled once (a bad expression throws an IOError of reason BadPattern), then tried on
    // every fortune; a quick test skips those that lack a literal every match holds.
    const Pattern pattern(argv[1]);
    const Collection collection = Collection::ofOperands(operands);
    bool matched = false;
    collection.visitMatches(pattern, [&](const VisitedFortune& fortune) {
      std::cout << '(' << fortune.path << " #" << fortune.number << ")\n" << fortune.text() << '\n';
      matched = true;
      return Visit::Continue;  // Visit::Stop ends the visit
    });
    // [guide:end]
    return matched ? 0 : 1;
  } catch (const std::exception& error) {
    std::cerr << "match: " << error.what() << '\n';
    return 2;
  }
}
