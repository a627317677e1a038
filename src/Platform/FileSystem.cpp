#include "Platform/FileSystem.hpp"

#include <cerrno>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>

#include "Platform/Errors.hpp"

namespace tallowmere {
namespace {

std::optional<struct stat> statFollowingLinks(const std::string& path) noexcept {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return std::nullopt;
  return info;
}

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

}  // namespace

bool isExistingFile(const std::string& path) noexcept {
  const auto info = statFollowingLinks(path);
  return info && !S_ISDIR(info->st_mode);
}

bool isExistingDirectory(const std::string& path) noexcept {
  const auto info = statFollowingLinks(path);
  return info && S_ISDIR(info->st_mode);
}

std::optional<FileIdentity> directoryIdentity(const std::string& path) noexcept {
  const auto info = statFollowingLinks(path);
  if (!info || !S_ISDIR(info->st_mode)) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(info->st_dev),
                      static_cast<std::uint64_t>(info->st_ino)};
}

std::vector<std::string> listDirectory(const std::string& path) {
  const std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
  if (!dir) throw IOError::system(errno, path, "opendir");
  std::vector<std::string> names;
  for (;;) {
    // readdir signals the end and an error alike with a null pointer; only errno tells them
    // apart.
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) throw IOError::system(errno, path, "readdir");
      return names;
    }
    names.emplace_back(entry->d_name);
  }
}

}  // namespace tallowmere
