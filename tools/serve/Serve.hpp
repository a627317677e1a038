// `tallowmere serve`: the collection a draw would use, over HTTP, until SIGTERM or SIGINT.
#pragma once

#include <ostream>
#include <span>
#include <string>

namespace tallowmere::cli {

// Runs the server with the arguments after "serve" and returns the exit status. Throws
// BadUsage for a mistake in them, and what opening the collection throws.
int runServe(std::span<const std::string> args);

void printServeHelp(std::ostream& out);

}  // namespace tallowmere::cli
