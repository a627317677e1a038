// Where fortune files are looked for: the search path of each kind of fortune.
//
// A search path is an ordered list of directories, each searched either with everything below
// it (recursive) or only at its top level. It comes from the environment when one of these is
// set, the per-kind variable first:
//
//   TALLOWMERE_PATH_ALL, TALLOWMERE_PATH_NORMAL, TALLOWMERE_PATH_OFFENSIVE, TALLOWMERE_PATH
//
// The value is a ':'-separated list; an element "+dir" is searched recursively, "-dir" or
// "dir" only at its top level. Without either variable the search path is the kind's
// directory below the installation data directory, searched recursively:
//
//   All        <datadir>/data
//   Normal     <datadir>/data/normal
//   Offensive  <datadir>/data/offensive
//
// with <datadir> from getDataDir (Paths_tallowmere.hpp). Nothing is cached: every call reads
// the environment and tests the directories again.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune/Types.hpp>
#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

struct TALLOWMERE_API SearchPathEntry {
  std::string directory;
  bool recursive;  // search the whole tree below `directory`, not only its own entries

  friend bool operator==(const SearchPathEntry&, const SearchPathEntry&) = default;
};

// In search order; may name a directory more than once.
using SearchPath = std::vector<SearchPathEntry>;

// "SearchPathEntry {directory = \"/a\", recursive = True}"
[[nodiscard]] TALLOWMERE_API std::string show(const SearchPathEntry& entry, int precedence = 0);
TALLOWMERE_API std::ostream& operator<<(std::ostream& out, const SearchPathEntry& entry);

// Joins two paths: b when b is absolute or a is empty, a when b is empty, otherwise a and b
// with one '/' between them (none added when a already ends in '/').
[[nodiscard]] TALLOWMERE_API std::string joinPath(const std::string& a, const std::string& b);

// The kind's default directory below the data directory. Reads the environment.
[[nodiscard]] TALLOWMERE_API std::string getFortuneDir(FortuneType type);

// One recursive entry for getFortuneDir(type), whether or not the directory exists.
[[nodiscard]] TALLOWMERE_API SearchPath defaultFortuneSearchPath(FortuneType type);

// The search path in force for the kind: from its own variable, else from TALLOWMERE_PATH,
// else the default. A variable that is set wins even when it is empty or names nothing usable;
// only entries whose directory exists (following links) are kept, in order, so the result may
// be empty. Throws nothing of its own.
[[nodiscard]] TALLOWMERE_API SearchPath getFortuneSearchPath(FortuneType type);

}  // namespace tallowmere
