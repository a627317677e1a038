// Reading a StatsProblem at a given precedence from a reader that is already under way, for the
// text forms that carry one (the header problem "StatsProblem (NegativeCount (-3))"). Internal.
#pragma once

#include <optional>

#include <tallowmere/Data/Fortune/Stats.hpp>
#include "Data/Fortune/detail/TextForm.hpp"

namespace tallowmere::detail {

std::optional<StatsProblem> readStatsProblem(TextReader& reader, int precedence);

}  // namespace tallowmere::detail
