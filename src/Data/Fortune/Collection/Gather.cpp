#include "Data/Fortune/Collection/Gather.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <string_view>

#include <tallowmere/Data/Fortune/Locate.hpp>
#include <tallowmere/Paths_tallowmere.hpp>
#include "Platform/Environment.hpp"

#ifndef TALLOWMERE_CLASSIC_DIR
#define TALLOWMERE_CLASSIC_DIR "/usr/share/games/fortunes"
#endif

namespace tallowmere {

std::string getClassicDir() {
  return lookupEnv("tallowmere_classicdir").value_or(TALLOWMERE_CLASSIC_DIR);
}

namespace detail {

namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// The search-path variable in force for the kind, if one is set, as "NAME (\"value\")".
std::optional<std::string> pathVariable(FortuneType kind) {
  for (std::string name : {"TALLOWMERE_PATH_" + show(kind), std::string("TALLOWMERE_PATH")}) {
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (const auto value = lookupEnv(name)) return name + " (" + quoted(*value) + ")";
  }
  return std::nullopt;
}

// The kind's directories below a classic collection's directory, those that exist; each at its
// top level only, as the classic tools read it: the directory itself, and off/ in it.
SearchPath classicPathIn(const std::string& classic, FortuneType kind, Env& env) {
  SearchPath path;
  if (kind != FortuneType::Offensive) path.push_back({classic, false});
  if (kind != FortuneType::Normal) path.push_back({joinPath(classic, "off"), false});
  std::erase_if(path, [&env](const SearchPathEntry& entry) {
    return !env.status(entry.directory).isDirectory();
  });
  return path;
}

SearchPath classicPath(FortuneType kind, Env& env) {
  return classicPathIn(getClassicDir(), kind, env);
}

bool holdsFortuneFiles(const SearchPath& path, const CollectionOptions& options,
                       Admit admit = Admit::Any) {
  FileGathering probe(options);
  probe.addSearchPath(path, 0, admit);
  return !probe.files().empty();
}

// A collection that was looked for: where, and the search path that holds its files.
struct Candidate {
  std::string where;
  SearchPath path;
  Admit admit = Admit::Any;
};

// "the data directory for de (/usr/share/tallowmere/de/data/normal)", say.
std::string described(const char* what, const std::string& language, const std::string& where) {
  std::string text = what;
  text += " for ";
  text += language;
  text += " (";
  text += where;
  text += ')';
  return text;
}

// The collections of the locale's language, in the order they are tried: for each name the
// locale gives (ll_CC, then ll), the data directory's own for that language (DATADIR/ll_CC,
// laid out as the data directory is), then the classic one (CLASSICDIR/ll_CC, with its off/).
std::vector<Candidate> localeCandidates(FortuneType kind, Env& env) {
  std::vector<Candidate> candidates;
  for (const std::string& language : localeLanguages()) {
    const std::string own = kindDirBelow(joinPath(getDataDir(), language), kind);
    if (env.status(own).isDirectory()) {
      candidates.push_back({described("the data directory", language, own), {{own, true}}});
    }
    const std::string classic = joinPath(getClassicDir(), language);
    if (SearchPath path = classicPathIn(classic, kind, env); !path.empty()) {
      candidates.push_back({described("the classic collection", language, classic), std::move(path),
                            Admit::WithDataFile});
    }
  }
  return candidates;
}

// The first of the locale's collections that holds fortune files, if any does.
std::optional<Candidate> localeCollection(FortuneType kind, const CollectionOptions& options) {
  for (Candidate& candidate : localeCandidates(kind, *options.env)) {
    if (holdsFortuneFiles(candidate.path, options, candidate.admit)) return std::move(candidate);
  }
  return std::nullopt;
}

bool isSymlink(Env& env, const std::string& path) {
  if (&env != &Env::disk()) return false;  // an Env of its own has no links
  std::error_code ignored;
  return std::filesystem::is_symlink(path, ignored);
}

}  // namespace

namespace {

// One element of a locale variable as a directory name: without ".encoding" and "@modifier";
// none for C, POSIX, or a name that could lead out of the collection's directory.
std::optional<std::string> languageOf(std::string_view element) {
  element = element.substr(0, element.find_first_of(".@"));
  if (element.empty() || element == "C" || element == "POSIX" ||
      element.find('/') != std::string_view::npos) {
    return std::nullopt;
  }
  return std::string(element);
}

}  // namespace

std::vector<std::string> localeLanguages() {
  std::optional<std::string> value;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE", "LANG"}) {
    value = lookupEnv(name);
    if (value) break;
  }
  std::vector<std::string> languages;
  std::string_view rest = value ? std::string_view(*value) : std::string_view();
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    if (const auto language = languageOf(rest.substr(0, colon))) {
      languages.push_back(*language);
      // ll_CC, then ll.
      if (const std::size_t underscore = language->find('_');
          underscore != 0 && underscore != std::string::npos) {
        languages.push_back(language->substr(0, underscore));
      }
    }
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return languages;
}

std::size_t FileGathering::addDirectory(const std::string& directory, bool recursive,
                                        std::size_t source, Admit admit) {
  const auto unreadable = [this](const IOError& error) {
    if (options_.onSkipped) options_.onSkipped(error);
  };
  std::vector<FoundFortuneFile> found =
      walkFortuneFiles(recursive, directory, unreadable, *options_.env);
  if (admit == Admit::WithDataFile) {
    // Looked up in the listings of the files' directories, which cost one call each, rather
    // than by a call per file.
    std::map<std::string, std::vector<std::string>> listings;  // each sorted
    std::erase_if(found, [&](const FoundFortuneFile& file) {
      // The walk joined the directory and the name with a '/'.
      const std::size_t slash = file.path.rfind('/');
      const std::string parent = slash == std::string::npos ? "."
                                 : slash == 0               ? "/"
                                                            : file.path.substr(0, slash);
      auto [at, fresh] = listings.try_emplace(parent);
      if (fresh) {
        try {
          at->second = options_.env->listDirectory(parent);
          std::sort(at->second.begin(), at->second.end());
        } catch (const IOError&) {  // listed a moment ago; gone now, and its files with it
        }
      }
      const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
      return !std::binary_search(at->second.begin(), at->second.end(),
                                 file.path.substr(name) + ".dat");
    });
  }
  for (FoundFortuneFile& file : found) {
    const FileStatus status{.kind = FileKind::Regular,
                            .identity = file.identity,
                            .size = file.size,
                            .modified = file.modified};
    // Identity 0/0: the walk could not look (a dangling link, say); looked at again when read.
    const bool known = file.identity != FileIdentity{};
    add({std::move(file.path), source, false, known ? std::optional(status) : std::nullopt},
        status);
  }
  return found.size();
}

void FileGathering::addSearchPath(const SearchPath& path, std::size_t source, Admit admit) {
  for (const SearchPathEntry& entry : path) {
    addDirectory(entry.directory, entry.recursive, source, admit);
  }
}

void FileGathering::addFile(const std::string& path, std::size_t source) {
  const FileStatus status = options_.env->status(path);
  // What the collection learns of the file starts from this look; a path it could not look at
  // is looked at again when read, for the reason.
  add({path, source, true, status.exists() ? std::optional(status) : std::nullopt}, status);
}

void FileGathering::add(GatheredFile file, const FileStatus& status) {
  const FileIdentity& identity = status.identity;
  // Identity 0/0: not examined (a dangling link, say); kept, to be reported when read.
  if (identity != FileIdentity{}) {
    const auto [at, fresh] = seen_.try_emplace({identity.device, identity.inode}, files_.size());
    if (!fresh) {
      GatheredFile& first = files_[at->second];
      first.named = first.named || file.named;
      if (isSymlink(*options_.env, first.path) && !isSymlink(*options_.env, file.path)) {
        first.path = std::move(file.path);
        first.status = file.status;
      }
      return;
    }
  }
  files_.push_back(std::move(file));
}

std::string gatherKind(FortuneType kind, FileGathering& files) {
  if (const auto variable = pathVariable(kind)) {
    files.addSearchPath(getFortuneSearchPath(kind), 0);
    return *variable;
  }
  // Walked once each: the first that adds a file is the collection.
  for (const Candidate& candidate : localeCandidates(kind, *files.options().env)) {
    files.addSearchPath(candidate.path, 0, candidate.admit);
    if (!files.files().empty()) return candidate.where;
  }
  std::string data = "the data directory (" + getFortuneDir(kind) + ")";
  files.addSearchPath(getFortuneSearchPath(kind), 0);
  if (!files.files().empty()) return data;
  // Nothing of our own is installed: the fortunes the machine has already.
  files.addSearchPath(classicPath(kind, Env::disk()), 0, Admit::WithDataFile);
  return data + " and the classic collection (" + getClassicDir() + ")";
}

std::vector<SearchPath> collectionPaths(FortuneType kind, const CollectionOptions& options) {
  if (pathVariable(kind)) return {getFortuneSearchPath(kind)};
  std::vector<SearchPath> paths;
  if (auto local = localeCollection(kind, options)) paths.push_back(std::move(local->path));
  if (holdsFortuneFiles(getFortuneSearchPath(kind), options)) {
    paths.push_back(getFortuneSearchPath(kind));
  } else {
    paths.push_back(classicPath(kind, Env::disk()));
  }
  return paths;
}

void gatherOperand(const std::string& operand, std::size_t source, FileGathering& files,
                   const CollectionOptions& options) {
  Env& env = *options.env;
  const FileStatus status = env.status(operand);
  if (status.isDirectory()) {
    if (files.addDirectory(operand, false, source) == 0) {
      throw IOError::userError(operand + ": no fortune files in this directory", operand,
                               ErrorReason::NothingToDraw);
    }
    return;
  }
  if (status.exists() || isSymlink(env, operand)) {
    files.addFile(operand, source);
    return;
  }
  // Along the locale's collection first, as the classic tools look names up.
  std::vector<std::string> found;
  for (const SearchPath& path : collectionPaths(options.kind, options)) {
    found = findFortuneFileIn(path, operand, env);
    if (!found.empty()) break;
  }
  if (found.empty()) {
    throw IOError::userError(operand + ": no such fortune file or directory", operand,
                             ErrorReason::NotFound);
  }
  for (const std::string& path : found) files.addFile(path, source);
}

}  // namespace detail
}  // namespace tallowmere
