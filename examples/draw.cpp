// Prints a random fortune: from the fortune files named on the command line, or else from the
// installed collection. Build it with the CMake project here or with pkg-config.
#include <iostream>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune.hpp>

int main(int argc, char** argv) {
  const std::vector<std::string> files(argv + 1, argv + argc);
  std::cout << tallowmere::randomFortune(files) << '\n';
}
