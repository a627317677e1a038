// What --help and --version print.
#pragma once

#include <iosfwd>

namespace tallowmere::cli {

void printHelp(std::ostream& out);
void printVersion(std::ostream& out);

}  // namespace tallowmere::cli
