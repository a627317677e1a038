// The subcommands that maintain fortune files: index, add, get, count, stats, check, list.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace tallowmere::cli {

// True when `name` is the name of a subcommand.
bool isSubcommand(std::string_view name);

// Runs the subcommand `name` with the arguments after it and returns the exit status. Throws
// BadUsage for a mistake in its arguments and FileError (or the library's failure) when it
// cannot do its work.
int runSubcommand(std::string_view name, std::span<const std::string> args);

}  // namespace tallowmere::cli
