// tallowmere-serve: the program behind `tallowmere serve`, which runs it with the arguments
// after "serve". Failures end as the command's do: "tallowmere serve: <message>" on standard
// error, the exit status 2 for a mistake in the command line and 1 for the rest.
#include <iostream>
#include <string>
#include <vector>

#include "../CommandLine.hpp"
#include "Serve.hpp"

int main(int argc, char** argv) {
  using namespace tallowmere::cli;
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return runServe(args);
  } catch (const BadUsage& e) {
    std::cerr << "tallowmere serve: " << e.what()
              << "\nTry 'tallowmere serve --help' for more information.\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "tallowmere serve: " << e.what() << '\n';
    return 1;
  }
}
