// Prints a random fortune: from the fortune files, directories and names given on the command
// line, as `tallowmere` takes them, or else from the collection that `tallowmere` draws from.
// It includes only the small header for drawing, which costs a fraction of the whole library's
// to compile. Build it with the CMake project here or with pkg-config.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune/Draw.hpp>

int main(int argc, char** argv) {
  const std::vector<std::string> operands(argv + 1, argv + argc);
  try {
    std::puts(tallowmere::drawFortune(operands).text.c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "draw: %s\n", error.what());
    return 1;
  }
  return 0;
}
