#include "InstallPrefix.hpp"

#include <sys/stat.h>

#include <array>

#include <tallowmere/Paths_tallowmere.hpp>
#include "Platform/LoadedObject.hpp"

namespace tallowmere::detail {
namespace {

// Where the build installs code, relative to the prefix (an absolute directory cannot move
// with it, and takes no part).
constexpr std::array<std::string_view, 2> kCodeDirs = {TALLOWMERE_INSTALL_BINDIR,
                                                       TALLOWMERE_INSTALL_LIBDIR};

// Any object of the library: the file it was loaded from is the library's.
const char kAnchor = 0;

std::string_view withoutTrailingSlashes(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

bool isDirectory(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

std::optional<std::string> prefixAbove(std::string_view file,
                                       std::span<const std::string_view> codeDirs) {
  const std::size_t slash = file.rfind('/');
  if (slash == std::string_view::npos) return std::nullopt;
  // Each ending starts with a '/', so that it matches whole names only.
  const std::string_view directory = file.substr(0, slash);
  for (std::string_view codeDir : codeDirs) {
    codeDir = withoutTrailingSlashes(codeDir);
    if (codeDir.empty() || codeDir.front() == '/') continue;
    const std::string ending = "/" + std::string(codeDir);
    if (directory.ends_with(ending)) {
      const std::string_view prefix = directory.substr(0, directory.size() - ending.size());
      return prefix.empty() ? std::string("/") : std::string(prefix);
    }
  }
  return std::nullopt;
}

std::string installedPrefix(std::string_view file, std::span<const std::string_view> codeDirs,
                            const std::string& configured) {
  if (std::optional<std::string> prefix = prefixAbove(file, codeDirs)) {
    const std::string dataDir =
        (prefix->ends_with('/') ? *prefix : *prefix + "/") + std::string(kDataDirBelowPrefix);
    if (isDirectory(dataDir)) return *prefix;
  }
  return configured;
}

std::string installedPrefix() {
  static const std::string file = loadedObjectPath(&kAnchor);
  return installedPrefix(file, kCodeDirs, installPrefix);
}

}  // namespace tallowmere::detail
