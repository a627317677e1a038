#include "Collection.hpp"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include <tallowmere/Platform/Env.hpp>

#ifndef TALLOWMERE_CLASSIC_DIR
#define TALLOWMERE_CLASSIC_DIR "/usr/share/games/fortunes"
#endif

namespace tallowmere::cli {

namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::optional<std::string> lookupEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// The search-path variable in force for the kind, if one is set.
std::optional<std::string> pathVariable(FortuneType kind) {
  for (std::string name : {"TALLOWMERE_PATH_" + show(kind), std::string("TALLOWMERE_PATH")}) {
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (const auto value = lookupEnv(name)) return name + " (" + quoted(*value) + ")";
  }
  return std::nullopt;
}

std::string classicDirectory() {
  return lookupEnv("tallowmere_classicdir").value_or(TALLOWMERE_CLASSIC_DIR);
}

// The directories of the classic collection that hold the kind, those that exist.
SearchPath classicPath(FortuneType kind) {
  const std::string classic = classicDirectory();
  SearchPath path;
  if (kind != FortuneType::Offensive) path.push_back({classic, false});
  if (kind != FortuneType::Normal) path.push_back({joinPath(classic, "off"), false});
  std::erase_if(path, [](const SearchPathEntry& entry) {
    return !Env::disk().status(entry.directory).isDirectory();
  });
  return path;
}

}  // namespace

std::string kindName(FortuneType kind) {
  switch (kind) {
    case FortuneType::All:
      return "any";
    case FortuneType::Normal:
      return "inoffensive";
    case FortuneType::Offensive:
      return "offensive";
  }
  return "any";
}

Collection collectCollection(FortuneType kind, FileSet& files) {
  if (const auto variable = pathVariable(kind)) {
    Collection set{getFortuneSearchPath(kind), *variable};
    files.addSearchPath(set.path);
    return set;
  }
  Collection data{getFortuneSearchPath(kind), "the data directory (" + getFortuneDir(kind) + ")"};
  files.addSearchPath(data.path);
  if (!files.paths().empty()) return data;
  Collection classic{classicPath(kind),
                     data.where + " and the classic collection (" + classicDirectory() + ")"};
  files.addSearchPath(classic.path);
  return classic;
}

SearchPath collectionPath(FortuneType kind) {
  if (pathVariable(kind)) return getFortuneSearchPath(kind);
  FileSet files;
  return collectCollection(kind, files).path;
}

std::size_t FileSet::addDirectory(const std::string& directory, bool recursive) {
  const auto unreadable = [](const IOError& error) {
    std::cout.flush();
    std::cerr << "tallowmere: " << error.path() << ": cannot read this directory ("
              << std::strerror(error.errorCode()) << "); the rest is used\n";
  };
  std::vector<FoundFortuneFile> found = walkFortuneFiles(recursive, directory, unreadable);
  for (FoundFortuneFile& file : found) {
    add(std::move(file.path), {FileKind::Regular, file.identity, file.size}, true);
  }
  return found.size();
}

void FileSet::addSearchPath(const SearchPath& path) {
  for (const SearchPathEntry& entry : path) addDirectory(entry.directory, entry.recursive);
}

void FileSet::addFile(const std::string& path) { add(path, Env::disk().status(path), false); }

bool FileSet::add(std::string path, const FileStatus& status, bool walked) {
  const FileIdentity& identity = status.identity;
  // Identity 0/0: not examined (a dangling link, say); kept, to be reported when opened.
  if (identity != FileIdentity{}) {
    const auto [at, fresh] = seen_.try_emplace({identity.device, identity.inode}, paths_.size());
    if (!fresh) {
      std::error_code ignored;
      std::string& first = paths_[at->second];
      if (std::filesystem::is_symlink(first, ignored) &&
          !std::filesystem::is_symlink(path, ignored)) {
        first = std::move(path);
      }
      return false;
    }
  }
  paths_.push_back(std::move(path));
  sizes_.push_back(walked && identity != FileIdentity{} ? std::optional(status.size)
                                                        : std::nullopt);
  return true;
}

}  // namespace tallowmere::cli
