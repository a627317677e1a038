// Finding fortune files in directories and along search paths.
//
// One directory walk serves every operation here. It lists a directory in the order the system
// returns the names (no sorting), skips every name that begins with '.' (hidden files, hidden
// directories and everything below them), descends depth first into subdirectories, symbolic
// links to directories included, when the walk is recursive, and hands every other entry
// (regular files, dangling links, ...) to a per-file test. A directory that is already on the
// way down from the start directory (reached again through a link) is not entered a second
// time, so link cycles end.
//
// Paths in results are the walked directory joined with the entry name (joinPath), so they are
// absolute or relative as the directory given was. Results keep duplicates, and every call
// reads the directories afresh.
//
// A directory that cannot be listed (missing, not a directory, no permission), the start
// directory or any directory reached below it, fails the whole call with the platform's
// IOError. The walk goes through `env`: the disk unless a test says otherwise.
#pragma once

#include <string>
#include <vector>

#include <tallowmere/Data/Fortune/FunctionRef.hpp>
#include <tallowmere/Data/Fortune/SearchPath.hpp>
#include <tallowmere/Data/Fortune/Types.hpp>
#include <tallowmere/Platform/Env.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

// Every fortune file below `directory`: each entry that is not a directory and whose name
// neither begins with '.' nor ends in the extension ".dat" or ".ix" (case-sensitive; the
// extension starts at the last '.'). Index files are thereby never listed.
[[nodiscard]] TALLOWMERE_API std::vector<std::string> listFortuneFiles(bool recursive,
                                                                       const std::string& directory,
                                                                       Env& env = Env::disk());

// A fortune file found by a walk, and the file it is (links followed): two paths with the same
// identity reach the same file.
struct TALLOWMERE_API FoundFortuneFile {
  std::string path;
  FileIdentity identity;
  std::int64_t size = 0;      // in bytes, when the walk looked
  std::int64_t modified = 0;  // FileStatus::modified, when the walk looked
};

// listFortuneFiles for programs that go on without what they cannot reach: each file comes
// with its identity, and a subdirectory below `directory` that cannot be listed is handed to
// `unreadable` and skipped (`directory` itself still fails the call).
[[nodiscard]] TALLOWMERE_API std::vector<FoundFortuneFile> walkFortuneFiles(
    bool recursive, const std::string& directory, FunctionRef<void(const IOError&)> unreadable,
    Env& env = Env::disk());

// listFortuneFiles for each entry of the search path, entry by entry.
[[nodiscard]] TALLOWMERE_API std::vector<std::string> listFortuneFilesIn(const SearchPath& path,
                                                                         Env& env = Env::disk());

// listFortuneFilesIn(getFortuneSearchPath(type)).
[[nodiscard]] TALLOWMERE_API std::vector<std::string> defaultFortuneFiles(FortuneType type);

// The files below `directory` whose entry name equals `name` exactly. A name that contains '/'
// or begins with '.' never matches.
[[nodiscard]] TALLOWMERE_API std::vector<std::string> findFortuneFile(bool recursive,
                                                                      const std::string& directory,
                                                                      const std::string& name,
                                                                      Env& env = Env::disk());

// findFortuneFile for each entry of the search path, entry by entry.
[[nodiscard]] TALLOWMERE_API std::vector<std::string> findFortuneFileIn(const SearchPath& path,
                                                                        const std::string& name,
                                                                        Env& env = Env::disk());

// findFortuneFileIn for each name in turn: all matches of the first name come first. A name
// without a match contributes nothing.
[[nodiscard]] TALLOWMERE_API std::vector<std::string> findFortuneFilesIn(
    const SearchPath& path, const std::vector<std::string>& names, Env& env = Env::disk());

// The same along getFortuneSearchPath(type).
[[nodiscard]] TALLOWMERE_API std::vector<std::string> resolveFortuneFile(FortuneType type,
                                                                         const std::string& name);
TALLOWMERE_API std::vector<std::string> resolveFortuneFiles(FortuneType type,
                                                            const std::vector<std::string>& names);

}  // namespace tallowmere
