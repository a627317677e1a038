// MemoryEnv and createMemoryFile: files held in memory.
//
// A file is a Node: its bytes now, its bytes when last synced, its mode and its advisory lock.
// Handles (MemoryFile) share a Node; a handle has its own open or closed state and access mode,
// as a descriptor has. The environment's namespace maps normalised paths to Nodes, symbolic
// links and directories, once as it is and once as it was when last synced.
#include <tallowmere/Platform/MemoryEnv.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <utility>

#include <tallowmere/Platform/Errors.hpp>
#include "Platform/Mutex.hpp"

namespace tallowmere {

namespace {

// The clock of files in memory: every change of any file takes the next tick, so that the
// modification times of two files tell which changed last, as the disk's do.
std::int64_t nextTick() noexcept {
  static std::atomic<std::int64_t> clock{0};
  return ++clock;
}

struct Node {
  Node(std::uint64_t number, std::uint32_t permissions) : inode(number), mode(permissions) {}

  const std::uint64_t inode;
  detail::SharedMutex mutex;
  std::string bytes TM_GUARDED_BY(mutex);
  std::string synced TM_GUARDED_BY(mutex);
  std::uint32_t mode TM_GUARDED_BY(mutex);  // the permission bits; metadata, never lost
  // The tick of the last change to bytes (of the creation, before any): the modification time
  // of a file in memory.
  std::int64_t changes TM_GUARDED_BY(mutex) = nextTick();
  // The advisory lock: the number of shared holders, or an exclusive holder. Waiters wait on
  // lockReleased with lockMutex, which a thread takes alone or inside the environment's mutex.
  detail::Mutex lockMutex{"memory file's advisory lock"};
  std::condition_variable_any lockReleased;
  int sharedHolders TM_GUARDED_BY(lockMutex) = 0;
  bool exclusiveHolder TM_GUARDED_BY(lockMutex) = false;
};

// Extends `bytes` with zero bytes to `size`. Running out of memory is this file's I/O failure,
// as a full disk is a disk file's, not a fault of the program.
void grow(std::string& bytes, std::int64_t size, const std::string& name, const char* operation) {
  if (static_cast<std::uint64_t>(size) > bytes.max_size()) {
    throw IOError::system(EFBIG, name, operation);
  }
  try {
    bytes.resize(static_cast<std::size_t>(size), '\0');
  } catch (const std::bad_alloc&) {
    throw IOError::system(ENOMEM, name, operation);
  } catch (const std::length_error&) {
    throw IOError::system(EFBIG, name, operation);
  }
}

class MemoryFile final : public File {
 public:
  MemoryFile(std::shared_ptr<Node> node, std::string name, bool writable)
      : node_(std::move(node)), name_(std::move(name)), writable_(writable) {}

  std::size_t readAt(std::int64_t offset, char* buffer, std::size_t size) override
      TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    requireOpen("read");
    if (offset < 0) throw IOError::system(EINVAL, name_, "read");
    Node& node = *node_;
    detail::SharedLock data(node.mutex);
    if (static_cast<std::uint64_t>(offset) >= node.bytes.size()) return 0;
    const auto from = static_cast<std::size_t>(offset);
    const std::size_t n = std::min(size, node.bytes.size() - from);
    std::copy_n(node.bytes.data() + from, n, buffer);
    return n;
  }

  void writeAt(std::int64_t offset, std::string_view bytes) override TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    requireWritable("write");
    if (offset < 0) throw IOError::system(EINVAL, name_, "write");
    // Like a zero-byte write to disk, an empty write neither extends the file nor fills a gap.
    if (bytes.empty()) return;
    if (bytes.size() > static_cast<std::uint64_t>(INT64_MAX - offset)) {
      throw IOError::system(EFBIG, name_, "write");
    }
    const std::int64_t end = offset + static_cast<std::int64_t>(bytes.size());
    Node& node = *node_;
    detail::ExclusiveLock data(node.mutex);
    if (static_cast<std::uint64_t>(end) > node.bytes.size()) grow(node.bytes, end, name_, "write");
    std::memcpy(node.bytes.data() + offset, bytes.data(), bytes.size());
    node.changes = nextTick();
  }

  std::int64_t size() override TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    requireOpen("size");
    Node& node = *node_;
    detail::SharedLock data(node.mutex);
    return static_cast<std::int64_t>(node.bytes.size());
  }

  void setSize(std::int64_t size) override TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    requireWritable("setSize");
    if (size < 0) throw IOError::system(EINVAL, name_, "setSize");
    Node& node = *node_;
    detail::ExclusiveLock data(node.mutex);
    if (static_cast<std::uint64_t>(size) > node.bytes.size()) {
      grow(node.bytes, size, name_, "setSize");
    } else {
      node.bytes.resize(static_cast<std::size_t>(size));
    }
    node.changes = nextTick();
  }

  void sync() override TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    requireOpen("sync");
    Node& node = *node_;
    detail::ExclusiveLock data(node.mutex);
    node.synced = node.bytes;
  }

  FileIdentity identity() override TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    requireOpen("identity");
    return {0, node_->inode};
  }

  void close() override TM_EXCLUDES(lifetime_) {
    detail::ExclusiveLock lock(lifetime_);
    open_ = false;
  }

  bool isOpen() override TM_EXCLUDES(lifetime_) {
    detail::SharedLock lock(lifetime_);
    return open_;
  }

  [[nodiscard]] const std::string& name() const override { return name_; }

  [[nodiscard]] const std::shared_ptr<Node>& node() const noexcept { return node_; }

 private:
  void requireOpen(const char* operation) TM_REQUIRES_SHARED(lifetime_) {
    if (!open_) throw IOError::system(EBADF, name_, operation);
  }
  void requireWritable(const char* operation) TM_REQUIRES_SHARED(lifetime_) {
    requireOpen(operation);
    if (!writable_) throw IOError::system(EBADF, name_, operation);
  }

  const std::shared_ptr<Node> node_;
  const std::string name_;
  const bool writable_;
  // Taken before the Node's mutex, never inside it.
  detail::SharedMutex lifetime_ TM_ACQUIRED_BEFORE(Node::mutex);
  bool open_ TM_GUARDED_BY(lifetime_) = true;
};

// "a//b/" -> "a/b"; "" -> "."; "/" stays.
std::string normalise(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out.push_back(c);
  }
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  while (out.rfind("./", 0) == 0 && out.size() > 2) out.erase(0, 2);
  return out.empty() ? "." : out;
}

std::string parentOf(const std::string& normalised) {
  const std::size_t slash = normalised.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : normalised.substr(0, slash);
}

// Where a link at `link` (normalised) to `target` leads: the target read from the link's
// directory, with "." and ".." taken lexically.
std::string linkDestination(const std::string& link, const std::string& target) {
  const bool absolute = target.starts_with('/');
  const std::string joined = absolute ? target : parentOf(link) + "/" + target;
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= joined.size()) {
    std::size_t end = joined.find('/', at);
    if (end == std::string::npos) end = joined.size();
    const std::string part = joined.substr(at, end - at);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!joined.starts_with('/')) {
        parts.push_back(part);
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  std::string out = joined.starts_with('/') ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i == 0 ? "" : "/") + parts[i];
  return normalise(out);
}

// A name in the namespace: a file, or (without a node) a symbolic link to `link`.
struct Entry {
  std::shared_ptr<Node> node;
  std::string link;
};

}  // namespace

struct MemoryEnv::State {
  // The namespace's lock; a Node's locks are taken inside it, never the other way round.
  detail::Mutex mutex TM_ACQUIRED_BEFORE(Node::mutex, Node::lockMutex){"memory file system"};
  std::uint64_t nextInode TM_GUARDED_BY(mutex) = 1;
  std::uint32_t umask TM_GUARDED_BY(mutex) = 022;
  // Paths of files and links, as they are now and as they were when last synced; directories.
  std::map<std::string, Entry> files TM_GUARDED_BY(mutex);
  std::map<std::string, Entry> syncedFiles TM_GUARDED_BY(mutex);
  std::set<std::string> directories TM_GUARDED_BY(mutex){".", "/"};
  std::vector<std::shared_ptr<Node>> everyNode TM_GUARDED_BY(mutex);

  [[nodiscard]] bool isDirectory(const std::string& path) const TM_REQUIRES(mutex) {
    return directories.count(path) != 0;
  }

  // The path that `key` (normalised) leads to through symbolic links at its last component:
  // one that names a file, a directory or nothing. No value for a chain of more than 40 links,
  // as the system refuses (ELOOP).
  [[nodiscard]] std::optional<std::string> follow(std::string key) const TM_REQUIRES(mutex) {
    for (int hops = 0; hops <= 40; ++hops) {
      const auto found = files.find(key);
      if (found == files.end() || found->second.node) return key;
      key = linkDestination(key, found->second.link);
    }
    return std::nullopt;
  }

  // The file that `key` leads to, or none.
  [[nodiscard]] std::shared_ptr<Node> fileAt(const std::string& key) const TM_REQUIRES(mutex) {
    const std::optional<std::string> target = follow(key);
    if (!target) return nullptr;
    const auto found = files.find(*target);
    return found == files.end() ? nullptr : found->second.node;
  }

  // What `key` names, not following a link there (which is Missing).
  [[nodiscard]] FileStatus statusAt(const std::string& key) const TM_REQUIRES(mutex) {
    if (isDirectory(key)) return {FileKind::Directory, {1, std::hash<std::string>{}(key)}, 0, 0755};
    const auto found = files.find(key);
    if (found == files.end() || !found->second.node) return {};
    Node& node = *found->second.node;
    detail::SharedLock data(node.mutex);
    return {FileKind::Regular,
            {0, node.inode},
            static_cast<std::int64_t>(node.bytes.size()),
            node.mode,
            node.changes};
  }

  std::shared_ptr<Node> create(const std::string& key, std::uint32_t mode) TM_REQUIRES(mutex) {
    auto node = std::make_shared<Node>(nextInode++, mode & ~umask);
    files[key] = Entry{node, {}};
    everyNode.push_back(node);
    return node;
  }

  void requireParent(const std::string& path, const std::string& shown, const char* operation)
      TM_REQUIRES(mutex) {
    if (!isDirectory(parentOf(path))) throw IOError::system(ENOENT, shown, operation);
  }
};

namespace {

class MemoryLock final : public FileLock {
 public:
  MemoryLock(std::shared_ptr<Node> node, LockMode mode) : node_(std::move(node)), mode_(mode) {}
  MemoryLock(const MemoryLock&) = delete;
  MemoryLock& operator=(const MemoryLock&) = delete;
  // NOLINTNEXTLINE(bugprone-exception-escape): its lock throws only on re-entry
  ~MemoryLock() override {
    Node& node = *node_;
    {
      const detail::MutexLock lock(node.lockMutex);
      if (mode_ == LockMode::Shared) {
        node.sharedHolders = std::max(0, node.sharedHolders - 1);
      } else {
        node.exclusiveHolder = false;
      }
    }
    node.lockReleased.notify_all();
  }

 private:
  std::shared_ptr<Node> node_;
  LockMode mode_;
};

}  // namespace

MemoryEnv::MemoryEnv() : state_(std::make_shared<State>()) {}
MemoryEnv::~MemoryEnv() = default;

std::unique_ptr<File> MemoryEnv::openFile(const std::string& path, OpenMode mode) {
  const std::string key = normalise(path);
  State& state = *state_;
  const detail::MutexLock lock(state.mutex);
  if (state.isDirectory(key)) {
    throw IOError::system(mode == OpenMode::CreateNew ? EEXIST : EISDIR, path, "open");
  }
  const bool writing = mode != OpenMode::ReadOnly;
  if (mode == OpenMode::CreateNew) {
    if (state.files.count(key) != 0) throw IOError::system(EEXIST, path, "open");
    state.requireParent(key, path, "open");
    return std::make_unique<MemoryFile>(state.create(key, 0600), path, true);
  }
  const auto named = state.files.find(key);
  if (mode == OpenMode::ReadWriteNoFollow && named != state.files.end() && !named->second.node) {
    throw IOError::system(ELOOP, path, "open");
  }
  // A link is followed to its target, which a creating open makes when it is missing.
  const std::optional<std::string> target = state.follow(key);
  if (!target) throw IOError::system(ELOOP, path, "open");
  if (state.isDirectory(*target)) throw IOError::system(EISDIR, path, "open");
  const auto found = state.files.find(*target);
  std::shared_ptr<Node> node;
  if (found != state.files.end()) {
    node = found->second.node;
    detail::SharedLock data(node->mutex);
    if ((node->mode & 0400) == 0 || (writing && (node->mode & 0200) == 0)) {
      throw IOError::system(EACCES, path, "open");
    }
  } else {
    if (!writing) throw IOError::system(ENOENT, path, "open");
    state.requireParent(*target, path, "open");
    node = state.create(*target, 0666);
  }
  if (mode == OpenMode::Truncate) {
    Node& truncated = *node;
    detail::ExclusiveLock data(truncated.mutex);
    truncated.bytes.clear();
  }
  return std::make_unique<MemoryFile>(node, path, writing);
}

// NOLINTNEXTLINE(bugprone-exception-escape): only running out of memory ends it early
FileStatus MemoryEnv::status(const std::string& path) noexcept {
  if (path.empty()) return {};
  const detail::MutexLock lock(state_->mutex);
  const std::optional<std::string> target = state_->follow(normalise(path));
  if (!target) return {};
  return state_->statusAt(*target);
}

// NOLINTNEXTLINE(bugprone-exception-escape): only running out of memory ends it early
FileStatus MemoryEnv::linkStatus(const std::string& path) noexcept {
  if (path.empty()) return {};
  const std::string key = normalise(path);
  const detail::MutexLock lock(state_->mutex);
  if (const auto found = state_->files.find(key);
      found != state_->files.end() && !found->second.node) {
    return {FileKind::SymbolicLink,
            {2, std::hash<std::string>{}(key)},
            static_cast<std::int64_t>(found->second.link.size()),
            0777};
  }
  return state_->statusAt(key);
}

void MemoryEnv::copyModeAndGroup(File& file, const std::string& model) {
  auto* memory = dynamic_cast<MemoryFile*>(&file);
  if (memory == nullptr) {
    throw UsageError("copyModeAndGroup: " + file.name() + " is not a file in memory");
  }
  const detail::MutexLock lock(state_->mutex);
  const std::shared_ptr<Node> from = state_->fileAt(normalise(model));
  if (!from) throw IOError::system(ENOENT, model, "stat");
  std::uint32_t mode = 0;
  {
    detail::SharedLock data(from->mutex);
    mode = from->mode & 0777;
  }
  Node& to = *memory->node();
  detail::ExclusiveLock data(to.mutex);
  to.mode = mode;
}

void MemoryEnv::createSymbolicLink(const std::string& target, const std::string& path) {
  const std::string key = normalise(path);
  const detail::MutexLock lock(state_->mutex);
  if (state_->isDirectory(key) || state_->files.count(key) != 0) {
    throw IOError::system(EEXIST, path, "symlink");
  }
  state_->requireParent(key, path, "symlink");
  state_->files[key] = Entry{nullptr, target};
  state_->syncedFiles[key] = Entry{nullptr, target};
}

void MemoryEnv::setMode(const std::string& path, std::uint32_t mode) {
  const detail::MutexLock lock(state_->mutex);
  const std::shared_ptr<Node> node = state_->fileAt(normalise(path));
  if (!node) throw IOError::system(ENOENT, path, "chmod");
  detail::ExclusiveLock data(node->mutex);
  node->mode = mode & 07777;
}

std::uint32_t MemoryEnv::setUmask(std::uint32_t mask) {
  const detail::MutexLock lock(state_->mutex);
  return std::exchange(state_->umask, mask & 0777);
}

std::vector<std::string> MemoryEnv::listDirectory(const std::string& path) {
  const std::string key = normalise(path);
  const detail::MutexLock lock(state_->mutex);
  if (!state_->isDirectory(key)) {
    throw IOError::system(state_->files.count(key) != 0 ? ENOTDIR : ENOENT, path, "opendir");
  }
  std::vector<std::string> names{".", ".."};
  const auto addChild = [&](const std::string& child) {
    if (child != key && parentOf(child) == key)
      names.push_back(child.substr(child.find_last_of('/') + 1));
  };
  for (const std::string& dir : state_->directories) addChild(dir);
  for (const auto& [file, node] : state_->files) addChild(file);
  return names;
}

void MemoryEnv::renameFile(const std::string& from, const std::string& to) {
  const std::string source = normalise(from);
  const std::string target = normalise(to);
  const detail::MutexLock lock(state_->mutex);
  const auto found = state_->files.find(source);
  if (found == state_->files.end()) throw IOError::system(ENOENT, to, "rename");
  if (state_->isDirectory(target)) throw IOError::system(EISDIR, to, "rename");
  state_->requireParent(target, to, "rename");
  Entry entry = found->second;  // a link is moved, not what it points to
  state_->files.erase(found);
  state_->files[target] = std::move(entry);
}

void MemoryEnv::removeFile(const std::string& path) {
  const detail::MutexLock lock(state_->mutex);
  if (state_->files.erase(normalise(path)) == 0) throw IOError::system(ENOENT, path, "remove");
}

void MemoryEnv::syncDirectory(const std::string& path) {
  const std::string key = normalise(path);
  const detail::MutexLock lock(state_->mutex);
  if (!state_->isDirectory(key)) throw IOError::system(ENOENT, path, "sync");
  std::erase_if(state_->syncedFiles,
                [&](const auto& entry) { return parentOf(entry.first) == key; });
  for (const auto& [file, entry] : state_->files) {
    if (parentOf(file) == key) state_->syncedFiles[file] = entry;
  }
}

std::unique_ptr<FileLock> MemoryEnv::lockFile(File& file, LockMode mode) {
  auto* memory = dynamic_cast<MemoryFile*>(&file);
  if (memory == nullptr) throw UsageError("lockFile: " + file.name() + " is not a file in memory");
  if (!memory->isOpen()) throw IOError::system(EBADF, file.name(), "lock");
  const std::shared_ptr<Node>& node = memory->node();
  const detail::MutexLock lock(node->lockMutex);
  // The waits release lockMutex and take it again before returning (condition_variable_any
  // over the Mutex itself), so the conditions are read with it held.
  if (mode == LockMode::Shared) {
    while (node->exclusiveHolder) node->lockReleased.wait(node->lockMutex);
    ++node->sharedHolders;
  } else {
    while (node->exclusiveHolder || node->sharedHolders != 0) {
      node->lockReleased.wait(node->lockMutex);
    }
    node->exclusiveHolder = true;
  }
  return std::make_unique<MemoryLock>(node, mode);
}

void MemoryEnv::createDirectory(const std::string& path) {
  const std::string key = normalise(path);
  const detail::MutexLock lock(state_->mutex);
  if (state_->files.count(key) != 0) throw IOError::system(EEXIST, path, "mkdir");
  state_->requireParent(key, path, "mkdir");
  state_->directories.insert(key);
}

void MemoryEnv::loseUnsyncedData(const std::function<bool(const std::string& path)>& keeps) {
  const detail::MutexLock lock(state_->mutex);
  std::set<const Node*> kept;
  for (const auto& [path, entry] : state_->files) {
    if (entry.node && keeps && keeps(path)) kept.insert(entry.node.get());
  }
  state_->files = state_->syncedFiles;
  for (const std::shared_ptr<Node>& each : state_->everyNode) {
    Node& node = *each;
    {
      detail::ExclusiveLock data(node.mutex);
      if (kept.count(&node) != 0) {
        node.synced = node.bytes;
      } else {
        node.bytes = node.synced;
      }
    }
    {
      const detail::MutexLock locks(node.lockMutex);
      node.sharedHolders = 0;
      node.exclusiveHolder = false;
    }
    node.lockReleased.notify_all();
  }
}

std::unique_ptr<File> createMemoryFile(std::string name) {
  return std::make_unique<MemoryFile>(std::make_shared<Node>(0, 0600), std::move(name), true);
}

}  // namespace tallowmere
