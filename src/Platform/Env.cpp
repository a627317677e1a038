// The helpers of Env.hpp that work through any Env.
#include <tallowmere/Platform/Env.hpp>

namespace tallowmere {

std::string temporaryPathFor(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, base) + "." + path.substr(base) + ".tmp";
}

void replaceFileWhole(Env& env, const std::string& path, std::string_view bytes, bool durable) {
  if (const FileStatus now = env.status(path);
      now.isFile() && now.size == static_cast<std::int64_t>(bytes.size()) &&
      env.openFile(path, OpenMode::ReadOnly)->readAt(0, bytes.size()) == bytes) {
    return;
  }
  const std::string temporary = temporaryPathFor(path);
  try {
    const std::unique_ptr<File> file = env.openFile(temporary, OpenMode::Truncate);
    file->writeAt(0, bytes);
    if (durable) file->sync();
    file->close();
    env.renameFile(temporary, path);
  } catch (...) {
    try {
      if (env.status(temporary).exists()) env.removeFile(temporary);
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
