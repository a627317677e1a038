// Which files make up a collection (internal): the kind's collection with its classic
// fallback, directories walked, names looked up, each file once.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <tallowmere/Data/Fortune/Collection.hpp>
#include <tallowmere/Data/Fortune/SearchPath.hpp>

namespace tallowmere::detail {

// A file of the collection to be, with the operand it came from and whether it was named
// (a named file that cannot be read is an error, one found in a directory is left out).
struct GatheredFile {
  std::string path;
  std::size_t source = 0;
  bool named = false;
  std::optional<FileStatus> status;  // the text's, when the walk found it
};

// Collects fortune files, each once: a file reached by several names (symbolic links such as
// Debian's FILE.u8, or hard links) is kept under its own name rather than a link's, else
// under the first.
class FileGathering {
 public:
  explicit FileGathering(const CollectionOptions& options) : options_(options) {}

  // The fortune files directly in (or, recursive, below) a directory; returns how many it
  // holds, new or not. A subdirectory that cannot be read is told to onSkipped.
  std::size_t addDirectory(const std::string& directory, bool recursive, std::size_t source);
  void addSearchPath(const SearchPath& path, std::size_t source);
  void addFile(const std::string& path, std::size_t source);

  [[nodiscard]] const std::vector<GatheredFile>& files() const noexcept { return files_; }

 private:
  void add(GatheredFile file, const FileStatus& status);

  const CollectionOptions& options_;
  std::vector<GatheredFile> files_;
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> seen_;
};

// Adds the files of the kind's collection; returns where they were looked for.
std::string gatherKind(FortuneType kind, FileGathering& files);

// The search path that a name is looked up along for the kind: the collection's.
SearchPath collectionPath(FortuneType kind, const CollectionOptions& options);

// Adds the files an operand stands for: itself when it names a file, the fortune files in it
// when it is a directory, else the files of that name along the kind's collection.
void gatherOperand(const std::string& operand, std::size_t source, FileGathering& files,
                   const CollectionOptions& options);

}  // namespace tallowmere::detail
