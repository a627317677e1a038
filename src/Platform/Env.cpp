// The helpers of Env.hpp that work through any Env.
#include <tallowmere/Platform/Env.hpp>

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <random>
#include <thread>

namespace tallowmere {

namespace {

// Where a file name begins in `path`.
std::size_t baseOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

// "dir/name" -> "dir/.name" + suffix.
std::string hiddenBeside(const std::string& path, std::string_view suffix) {
  const std::size_t base = baseOf(path);
  std::string hidden = path.substr(0, base) + "." + path.substr(base);
  hidden += suffix;
  return hidden;
}

std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Eight letters and digits that no other call of this process, nor (for the process id is mixed
// in) of another process, is likely to give. Not a secret: a name that is taken is passed over.
std::string randomName() {
  static const std::uint64_t seed = [] {
    std::uint64_t value =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
      std::random_device device;
      value ^= (static_cast<std::uint64_t>(device()) << 32) ^ device();
    } catch (...) {  // the clock and the counter below keep the names apart well enough
    }
    return value;
  }();
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t bits =
      mix(seed ^ mix(counter.fetch_add(1) ^ (static_cast<std::uint64_t>(::getpid()) << 40) ^
                     std::hash<std::thread::id>{}(std::this_thread::get_id())));
  constexpr std::string_view alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name(8, ' ');
  for (char& c : name) {
    c = alphabet[bits % alphabet.size()];
    bits /= alphabet.size();
  }
  return name;
}

}  // namespace

IOError symbolicLinkRefused(const std::string& path) {
  return IOError::userError(path +
                                ": is a symbolic link; an index or data file is never written "
                                "through a link nor replaced over one (remove the link, or put a "
                                "regular file there)",
                            path, ErrorReason::PermissionDenied);
}

std::unique_ptr<File> createReplacementFile(Env& env, const std::string& path,
                                            const std::string& model) {
  const FileStatus now = env.linkStatus(path);
  if (now.kind == FileKind::SymbolicLink) throw symbolicLinkRefused(path);
  // What an earlier version left at its fixed name. Removing it is tidying only: it may belong
  // to someone else, who alone may remove it from a directory with the sticky bit.
  const std::string legacy = hiddenBeside(path, ".tmp");
  if (env.linkStatus(legacy).exists()) {
    try {
      env.removeFile(legacy);
    } catch (const IOError&) {
    }
  }
  std::unique_ptr<File> file;
  for (int attempt = 0; !file; ++attempt) {
    try {
      file = env.openFile(hiddenBeside(path, "." + randomName() + ".tmp"), OpenMode::CreateNew);
    } catch (const IOError& error) {
      if (error.errorCode() != EEXIST || attempt == 99) throw;
    }
  }
  try {
    const std::string& from = now.exists() ? path : model;
    if (!from.empty() && env.status(from).exists()) env.copyModeAndGroup(*file, from);
  } catch (...) {
    try {
      env.removeFile(file->name());
      file->close();
    } catch (...) {  // the failure to set the mode is the one to report
    }
    throw;
  }
  return file;
}

void replaceFileWhole(Env& env, const std::string& path, std::string_view bytes, bool durable,
                      const std::string& model) {
  if (const FileStatus now = env.status(path);
      now.isFile() && now.size == static_cast<std::int64_t>(bytes.size()) &&
      env.openFile(path, OpenMode::ReadOnly)->readAt(0, bytes.size()) == bytes) {
    return;
  }
  const std::unique_ptr<File> file = createReplacementFile(env, path, model);
  const std::string temporary = file->name();
  try {
    file->writeAt(0, bytes);
    if (durable) file->sync();
    file->close();
    env.renameFile(temporary, path);
  } catch (...) {
    try {
      if (env.linkStatus(temporary).exists()) env.removeFile(temporary);
    } catch (...) {  // the failure that stopped the write is the one to report
    }
    throw;
  }
  if (durable) env.syncDirectory(parentDirectory(path));
}

std::string parentDirectory(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace tallowmere
