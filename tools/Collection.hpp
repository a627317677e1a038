// Where the command looks for fortune files, and what it finds there.
//
// The collection of a kind is its search path (see Data/Fortune/SearchPath.hpp). When no
// search-path variable is set and the data directory holds no fortune file of the kind, the
// classic system collection is used instead when it exists: its directory (tallowmere_classicdir,
// by default the one the build was configured with, /usr/share/games/fortunes) for the
// inoffensive kind, its off/ directory for the offensive one, both for all; each at its top
// level only, as the classic tools read it.
//
// Files are found by walking directories: a subdirectory that cannot be read is reported on
// standard error and the rest is used, and a file reached by several names (symbolic links such
// as Debian's FILE.u8, or hard links) is used once: under its own name rather than a link's,
// else under the first.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <tallowmere/Data/Fortune.hpp>

namespace tallowmere::cli {

struct Collection {
  SearchPath path;
  // Where the files were looked for, for a message when there are none: "the data directory
  // (/usr/share/tallowmere/data/normal)", "TALLOWMERE_PATH_NORMAL (\"/x\")", ...
  std::string where;
};

class FileSet;

// The fortune files of a kind's collection, as described above, into `files`; returns where
// they were looked for.
Collection collectCollection(FortuneType kind, FileSet& files);

// The search path that names a fortune file of the kind: the collection's.
SearchPath collectionPath(FortuneType kind);

// "inoffensive", "offensive", "any" (for messages).
std::string kindName(FortuneType kind);

// Collects fortune files, each once.
class FileSet {
 public:
  // The fortune files below a directory; returns how many it holds, new or not.
  std::size_t addDirectory(const std::string& directory, bool recursive);
  // Every fortune file of a search path.
  void addSearchPath(const SearchPath& path);
  // One file, unless it was added already under another name.
  void addFile(const std::string& path);

  [[nodiscard]] const std::vector<std::string>& paths() const noexcept { return paths_; }
  // The size of each file, as the walk found it (none for a file added by name).
  [[nodiscard]] const std::vector<std::optional<std::int64_t>>& sizes() const noexcept {
    return sizes_;
  }

 private:
  bool add(std::string path, const FileStatus& status, bool walked);

  std::vector<std::string> paths_;
  std::vector<std::optional<std::int64_t>> sizes_;
  // For each file added, where its path is in paths_.
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> seen_;
};

}  // namespace tallowmere::cli
