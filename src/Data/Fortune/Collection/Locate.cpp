#include "Data/Fortune/Locate.hpp"

#include <algorithm>
#include <string_view>

#include "Data/Fortune/FunctionRef.hpp"
#include "Platform/Env.hpp"

namespace tallowmere {
namespace {

// Decides by its entry name whether a non-directory entry belongs in the result.
using FileTest = FunctionRef<bool(std::string_view name)>;

struct Walk {
  Env& env;
  bool recursive;
  FileTest test;
  std::vector<std::string> found;
  // The directories from the start down to the one being listed.
  std::vector<FileIdentity> onPath;

  // The identity of the directory that `path` names; none when it names no directory.
  std::optional<FileIdentity> directoryIdentity(const std::string& path) {
    const FileStatus status = env.status(path);
    if (!status.isDirectory()) return std::nullopt;
    return status.identity;
  }

  void directory(const std::string& dir, const std::optional<FileIdentity>& identity) {
    const std::vector<std::string> names = env.listDirectory(dir);
    if (identity) onPath.push_back(*identity);
    for (const std::string& name : names) {
      if (name.front() == '.') continue;
      const std::string path = joinPath(dir, name);
      if (const auto sub = directoryIdentity(path)) {
        if (recursive && std::find(onPath.begin(), onPath.end(), *sub) == onPath.end()) {
          directory(path, sub);
        }
      } else if (test(name)) {
        found.push_back(path);
      }
    }
    if (identity) onPath.pop_back();
  }
};

std::vector<std::string> walk(Env& env, bool recursive, FileTest test, const std::string& start) {
  Walk w{env, recursive, test, {}, {}};
  w.directory(start, w.directoryIdentity(start));
  return std::move(w.found);
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

std::vector<std::string> listFortuneFiles(bool recursive, const std::string& directory,
                                          Env& env) {
  return walk(env, recursive, [](std::string_view name) { return isFortuneFileName(name); },
              directory);
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
  return walk(env, recursive, [&name](std::string_view entry) { return entry == name; },
              directory);
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
