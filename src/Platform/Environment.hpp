// The process environment.
//
// Reads only. The C library does not guard the environment against a concurrent setenv or
// unsetenv, so a program that changes its environment must not do so while other threads
// read it.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tallowmere {

// The value of one variable; no value when it is not set. A variable set to the empty text
// has the empty text as its value.
std::optional<std::string> lookupEnv(const std::string& name);

// A snapshot of the whole environment as (name, value) pairs, in the order the process holds
// them. A name may occur more than once; an entry without '=' has the empty value.
std::vector<std::pair<std::string, std::string>> getEnvironment();

}  // namespace tallowmere
