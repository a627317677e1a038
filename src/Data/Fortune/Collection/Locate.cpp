#include <tallowmere/Data/Fortune/Locate.hpp>

#include <algorithm>
#include <string_view>

#include <tallowmere/Data/Fortune/FunctionRef.hpp>
#include <tallowmere/Platform/Env.hpp>

namespace tallowmere {
namespace {

// Decides by its entry name whether a non-directory entry belongs in the result.
using FileTest = FunctionRef<bool(std::string_view name)>;

struct Walk {
  Env& env;
  bool recursive;
  FileTest test;
  // Given: a subdirectory that cannot be listed is handed to it and skipped.
  const FunctionRef<void(const IOError&)>* unreadable = nullptr;
  std::vector<FoundFortuneFile> found;
  // The directories from the start down to the one being listed.
  std::vector<FileIdentity> onPath;

  void directory(const std::string& dir, const std::optional<FileIdentity>& identity) {
    std::vector<std::string> names;
    if (unreadable == nullptr || onPath.empty()) {
      names = env.listDirectory(dir);
    } else {
      try {
        names = env.listDirectory(dir);
      } catch (const IOError& error) {
        (*unreadable)(error);
        return;
      }
    }
    if (identity) onPath.push_back(*identity);
    for (const std::string& name : names) {
      if (name.front() == '.') continue;
      // Below a walk that does not descend, a name the test refuses needs no look at what it is.
      if (!recursive && !test(name)) continue;
      std::string path = joinPath(dir, name);
      const FileStatus status = env.status(path);
      if (status.isDirectory()) {
        if (recursive && std::find(onPath.begin(), onPath.end(), status.identity) == onPath.end()) {
          directory(path, status.identity);
        }
      } else if (test(name)) {
        found.push_back({std::move(path), status.identity, status.size, status.modified});
      }
    }
    if (identity) onPath.pop_back();
  }

  void start(const std::string& dir) {
    const FileStatus status = env.status(dir);
    directory(dir, status.isDirectory() ? std::optional(status.identity) : std::nullopt);
  }
};

std::vector<std::string> walk(Env& env, bool recursive, FileTest test, const std::string& start) {
  Walk w{env, recursive, test, nullptr, {}, {}};
  w.start(start);
  std::vector<std::string> paths;
  paths.reserve(w.found.size());
  for (FoundFortuneFile& file : w.found) paths.push_back(std::move(file.path));
  return paths;
}

bool isFortuneFileName(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return true;
  const std::string_view extension = name.substr(dot);
  return extension != ".dat" && extension != ".ix";
}

void append(std::vector<std::string>& to, std::vector<std::string> more) {
  to.insert(to.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
}

}  // namespace

std::vector<std::string> listFortuneFiles(bool recursive, const std::string& directory, Env& env) {
  return walk(
      env, recursive, [](std::string_view name) { return isFortuneFileName(name); }, directory);
}

std::vector<FoundFortuneFile> walkFortuneFiles(bool recursive, const std::string& directory,
                                               FunctionRef<void(const IOError&)> unreadable,
                                               Env& env) {
  Walk w{env,         recursive, [](std::string_view name) { return isFortuneFileName(name); },
         &unreadable, {},        {}};
  w.start(directory);
  return std::move(w.found);
}

std::vector<std::string> listFortuneFilesIn(const SearchPath& path, Env& env) {
  std::vector<std::string> files;
  for (const SearchPathEntry& entry : path) {
    append(files, listFortuneFiles(entry.recursive, entry.directory, env));
  }
  return files;
}

std::vector<std::string> defaultFortuneFiles(FortuneType type) {
  return listFortuneFilesIn(getFortuneSearchPath(type));
}

std::vector<std::string> findFortuneFile(bool recursive, const std::string& directory,
                                         const std::string& name, Env& env) {
  return walk(
      env, recursive, [&name](std::string_view entry) { return entry == name; }, directory);
}

std::vector<std::string> findFortuneFileIn(const SearchPath& path, const std::string& name,
                                           Env& env) {
  std::vector<std::string> files;
  for (const SearchPathEntry& entry : path) {
    append(files, findFortuneFile(entry.recursive, entry.directory, name, env));
  }
  return files;
}

std::vector<std::string> findFortuneFilesIn(const SearchPath& path,
                                            const std::vector<std::string>& names, Env& env) {
  std::vector<std::string> files;
  for (const std::string& name : names) append(files, findFortuneFileIn(path, name, env));
  return files;
}

std::vector<std::string> resolveFortuneFile(FortuneType type, const std::string& name) {
  return findFortuneFileIn(getFortuneSearchPath(type), name);
}

std::vector<std::string> resolveFortuneFiles(FortuneType type,
                                             const std::vector<std::string>& names) {
  return findFortuneFilesIn(getFortuneSearchPath(type), names);
}

}  // namespace tallowmere
