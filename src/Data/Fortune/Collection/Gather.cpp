#include "Data/Fortune/Collection/Gather.hpp"

#include <cctype>
#include <filesystem>

#include <tallowmere/Data/Fortune/Locate.hpp>
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

// The directories of the classic collection that hold the kind, those that exist; each at its
// top level only, as the classic tools read it.
SearchPath classicPath(FortuneType kind, Env& env) {
  const std::string classic = getClassicDir();
  SearchPath path;
  if (kind != FortuneType::Offensive) path.push_back({classic, false});
  if (kind != FortuneType::Normal) path.push_back({joinPath(classic, "off"), false});
  std::erase_if(path, [&env](const SearchPathEntry& entry) {
    return !env.status(entry.directory).isDirectory();
  });
  return path;
}

bool isSymlink(Env& env, const std::string& path) {
  if (&env != &Env::disk()) return false;  // an Env of its own has no links
  std::error_code ignored;
  return std::filesystem::is_symlink(path, ignored);
}

}  // namespace

std::size_t FileGathering::addDirectory(const std::string& directory, bool recursive,
                                        std::size_t source) {
  const auto unreadable = [this](const IOError& error) {
    if (options_.onSkipped) options_.onSkipped(error);
  };
  std::vector<FoundFortuneFile> found =
      walkFortuneFiles(recursive, directory, unreadable, *options_.env);
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

void FileGathering::addSearchPath(const SearchPath& path, std::size_t source) {
  for (const SearchPathEntry& entry : path) addDirectory(entry.directory, entry.recursive, source);
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
  std::string data = "the data directory (" + getFortuneDir(kind) + ")";
  files.addSearchPath(getFortuneSearchPath(kind), 0);
  if (!files.files().empty()) return data;
  // Nothing of our own is installed: the fortunes the machine has already.
  files.addSearchPath(classicPath(kind, Env::disk()), 0);
  return data + " and the classic collection (" + getClassicDir() + ")";
}

SearchPath collectionPath(FortuneType kind, const CollectionOptions& options) {
  if (pathVariable(kind)) return getFortuneSearchPath(kind);
  FileGathering own(options);
  own.addSearchPath(getFortuneSearchPath(kind), 0);
  if (!own.files().empty()) return getFortuneSearchPath(kind);
  return classicPath(kind, Env::disk());
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
  const std::vector<std::string> found =
      findFortuneFileIn(collectionPath(options.kind, options), operand, env);
  if (found.empty()) {
    throw IOError::userError(operand + ": no such fortune file or directory", operand,
                             ErrorReason::NotFound);
  }
  for (const std::string& path : found) files.addFile(path, source);
}

}  // namespace detail
}  // namespace tallowmere
