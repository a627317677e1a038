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

// Which of a directory's fortune files a collection takes.
enum class Admit {
  Any,
  // Only those with a data file beside them (FILE.dat): in the classic tools' own directories,
  // a text without one is not drawn from (Debian's fortunes-de leaves out the files its
  // administrator turned off so).
  WithDataFile,
};

// Collects fortune files, each once: a file reached by several names (symbolic links such as
// Debian's FILE.u8, or hard links) is kept under its own name rather than a link's, else
// under the first.
class FileGathering {
 public:
  explicit FileGathering(const CollectionOptions& options) : options_(options) {}

  // The fortune files directly in (or, recursive, below) a directory; returns how many it
  // holds, new or not. A subdirectory that cannot be read is told to onSkipped.
  std::size_t addDirectory(const std::string& directory, bool recursive, std::size_t source,
                           Admit admit = Admit::Any);
  void addSearchPath(const SearchPath& path, std::size_t source, Admit admit = Admit::Any);
  void addFile(const std::string& path, std::size_t source);

  [[nodiscard]] const std::vector<GatheredFile>& files() const noexcept { return files_; }
  [[nodiscard]] const CollectionOptions& options() const noexcept { return options_; }

 private:
  void add(GatheredFile file, const FileStatus& status);

  const CollectionOptions& options_;
  std::vector<GatheredFile> files_;
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> seen_;
};

// The languages the locale names, as the classic fortune reads them: the first of LC_ALL,
// LC_MESSAGES, LANGUAGE and LANG that is set (set and empty names none), split at ':' (so that
// "de:en" tries de, then en), each element without its encoding and modifier
// ("de_DE.UTF-8@euro" is de_DE) and followed by its language alone (de_DE, then de). C and
// POSIX name no language, nor does anything that is no plain directory name.
std::vector<std::string> localeLanguages();

// Adds the files of the kind's collection; returns where they were looked for. Without a
// search-path variable, the first of the locale's collections (localeLanguages) that holds
// fortune files: below the data directory (DATADIR/ll_CC, laid out as DATADIR is), then below
// the classic directory (CLASSICDIR/ll_CC, with its off/); else the data directory's, else the
// classic collection.
std::string gatherKind(FortuneType kind, FileGathering& files);

// The search paths that a name is looked up along for the kind, in order, the first that has
// a file of that name winning: the locale's collection, if any, then the usual one.
std::vector<SearchPath> collectionPaths(FortuneType kind, const CollectionOptions& options);

// Adds the files an operand stands for: itself when it names a file, the fortune files in it
// when it is a directory, else the files of that name along the kind's collection.
void gatherOperand(const std::string& operand, std::size_t source, FileGathering& files,
                   const CollectionOptions& options);

// The kind's directory below a data directory: what getFortuneDir gives below the
// installation's, and the same below a language's collection.
std::string kindDirBelow(const std::string& dataDir, FortuneType kind);

}  // namespace tallowmere::detail
