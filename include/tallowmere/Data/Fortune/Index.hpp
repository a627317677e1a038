// The index layer: binary index files that find fortune number i without scanning the text.
//
//   Index/Format.hpp    Header and IndexEntry records and their byte encoding
//   Index/Problems.hpp  HeaderProblem, IndexProblem and the exceptions that carry problems
//   Index/Handle.hpp    Index, the open index handle, with its lock and guarded access
//   Index/Entries.hpp   reading, appending and clearing entries; checks and statistics rebuild
#pragma once

#include <tallowmere/Data/Fortune/Index/Entries.hpp>
#include <tallowmere/Data/Fortune/Index/Format.hpp>
#include <tallowmere/Data/Fortune/Index/Handle.hpp>
#include <tallowmere/Data/Fortune/Index/Problems.hpp>
#include <tallowmere/Data/Fortune/Stats.hpp>
#include <tallowmere/Platform/Errors.hpp>
