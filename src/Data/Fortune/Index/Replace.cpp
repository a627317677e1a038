// Replacing an index file whole: the new index is written beside the old one and renamed over
// it once it is durable, so that readers see the old file or the new one and a failure or a
// crash at any step leaves the old file as it was.
//
// An index rebuilt from a text that did not change comes out byte for byte the old one, and
// then nothing needs to be written at all. So the new index is first only compared with the
// old file as it is produced; the temporary file is made, and the part that matched copied
// into it, at the first byte that differs. The temporary is a new file under a fresh name with
// the mode and group of the file it replaces (createReplacementFile in Env.hpp), so that
// nothing planted beside the index is written through and the umask changes no one's access.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <thread>
#include <utility>

#include <tallowmere/Data/Fortune/Index/Entries.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/Index/State.hpp"

namespace tallowmere {
namespace {

constexpr std::size_t kPiece = std::size_t{64} * 1024;

// Makes a file durable behind its writer: a thread syncs it again whenever more of it has been
// handed to the disk since its last sync, so that the writer's own sync at the end has only the
// last piece left to wait for, not the whole file (tens of milliseconds for a table of a
// million entries, which a rebuild would otherwise spend after its scan). The thread starts
// at the first hand-over, which only a long table makes, and only where the caller allows
// threads; without one nothing changes but the wait at the end.
class SyncBehind {
 public:
  SyncBehind() = default;
  SyncBehind(const SyncBehind&) = delete;
  SyncBehind& operator=(const SyncBehind&) = delete;
  ~SyncBehind() { stop(); }

  // The first `end` bytes of `file` have been handed to the disk.
  void handedOver(const std::shared_ptr<File>& file, std::int64_t end) noexcept {
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread([this, file] { run(*file); });
      } catch (...) {  // no thread: the final sync does all the waiting
        return;
      }
    }
    handed_.store(end);
    handed_.notify_one();
  }

  // Stops the thread; a failure of a sync it made is reported here, since the file may not
  // report it a second time.
  void finish() {
    stop();
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  }

 private:
  static constexpr std::int64_t kStop = -1;

  void run(File& file) noexcept {
    std::int64_t synced = 0;
    for (;;) {
      handed_.wait(synced);
      const std::int64_t handed = handed_.load();
      if (handed == kStop) return;
      try {
        file.sync();
      } catch (...) {
        error_ = std::current_exception();
        return;
      }
      synced = handed;
    }
  }

  void stop() noexcept {
    if (!thread_.joinable()) return;
    handed_.store(kStop);
    handed_.notify_one();
    thread_.join();
  }

  std::atomic<std::int64_t> handed_{0};
  std::exception_ptr error_;  // written by the thread, read after it is joined
  std::thread thread_;
};

// The file a new index is written to. Until a write differs from the old file's bytes it holds
// nothing of its own: it stands for the first end() bytes of the old file. Then it becomes the
// temporary file, with those bytes copied in; or, when the old file may only be read
// (`writeError`, the errno opening it for writing met), the write fails with that error. Its
// first 64 bytes stand for a header from the start, to be written last.
class IndexBeingWritten final : public File {
 public:
  IndexBeingWritten(Env& env, const std::string& path, const std::string& model,
                    std::shared_ptr<File> old, bool syncInThread, int writeError)
      : env_(env),
        path_(path),
        model_(model),
        name_(path),
        old_(std::move(old)),
        syncInThread_(syncInThread),
        writeError_(writeError) {
    if (!old_) diverge();
  }

  std::size_t readAt(std::int64_t offset, char* buffer, std::size_t size) override {
    if (file_) return file_->readAt(offset, buffer, size);
    if (offset >= end_) return 0;
    return old_->readAt(offset, buffer,
                        std::min<std::size_t>(size, static_cast<std::size_t>(end_ - offset)));
  }

  void writeAt(std::int64_t offset, std::string_view bytes) override {
    if (!file_ && !matchesOld(offset, bytes)) diverge();
    if (file_) {
      file_->writeAt(offset, bytes);
    } else {
      end_ = std::max(end_, offset + static_cast<std::int64_t>(bytes.size()));
    }
  }

  std::int64_t size() override { return file_ ? file_->size() : end_; }

  void setSize(std::int64_t size) override {
    if (!file_ && size == end_) return;
    if (!file_) diverge();
    file_->setSize(size);
  }

  void sync() override {
    if (file_) file_->sync();
  }
  void startWriteback(std::int64_t offset, std::int64_t length) noexcept override {
    if (!file_) return;
    file_->startWriteback(offset, length);
    if (syncInThread_) syncBehind_.handedOver(file_, offset + length);
  }
  FileIdentity identity() override { return file_ ? file_->identity() : FileIdentity{}; }
  void close() override {
    if (file_) file_->close();
  }
  bool isOpen() override { return !file_ || file_->isOpen(); }
  // The temporary's path once it is made; until then the index's.
  [[nodiscard]] const std::string& name() const override { return name_; }
  [[nodiscard]] bool madeTemporary() const noexcept { return file_ != nullptr; }

  // True while every byte written equals the old file's, and as many as it holds.
  bool sameAsOld() { return !file_ && end_ == old_->size(); }

  // The temporary file, made now if nothing differed so far, and durable.
  std::shared_ptr<File> syncedTemporaryFile() {
    if (!file_) diverge();
    syncBehind_.finish();
    file_->sync();
    return file_;
  }

 private:
  bool matchesOld(std::int64_t offset, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const std::size_t want = std::min(kPiece, bytes.size() - done);
      if (old_->readAt(offset + static_cast<std::int64_t>(done), buffer_.get(), want) != want ||
          std::memcmp(buffer_.get(), bytes.data() + done, want) != 0) {
        return false;
      }
      done += want;
    }
    return true;
  }

  void diverge() {
    if (writeError_ != 0) throw IOError::system(writeError_, path_, "open for writing");
    std::shared_ptr<File> file = createReplacementFile(env_, path_, model_);
    name_ = file->name();
    if (old_) {
      for (std::int64_t at = 0; at < end_;) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(kPiece, end_ - at));
        const std::size_t got = old_->readAt(at, buffer_.get(), want);
        if (got == 0) break;  // the header to come is all that is missing
        file->writeAt(at, std::string_view(buffer_.get(), got));
        at += static_cast<std::int64_t>(got);
      }
    }
    file->setSize(end_);
    file_ = std::move(file);
  }

  Env& env_;
  const std::string path_;
  const std::string model_;
  std::string name_;
  const std::shared_ptr<File> old_;
  const bool syncInThread_;
  const int writeError_;
  const std::unique_ptr<char[]> buffer_ = std::make_unique<char[]>(kPiece);
  std::int64_t end_ = indexHeaderLength;
  std::shared_ptr<File> file_;
  SyncBehind syncBehind_;  // last: its thread stops before the rest goes
};

// The new index: `file` at `path` (the old file itself when nothing changed) and its header.
struct WrittenIndex {
  std::shared_ptr<File> file;
  Header header;
};

// Fills a new index for `path` and puts it in place, durable. `old` is the file at `path`, if
// any, to compare with; `model` the file whose mode and group a new index takes when nothing is
// at `path`; `writeError`, when not 0, why `old` may only be read, so that nothing but the old
// file unchanged can come of it. The temporary file is removed again when a step before the
// rename fails.
WrittenIndex writeBeside(Env& env, const std::string& path, FunctionRef<void(const Index&)> fill,
                         const std::shared_ptr<File>& old, bool syncInThread,
                         const std::string& model, int writeError = 0) {
  const auto being =
      std::make_shared<IndexBeingWritten>(env, path, model, old, syncInThread, writeError);
  bool renamed = false;
  try {
    // Starts empty; the header is written at the end, even when it is the empty one.
    const Index fresh = detail::IndexAccess::make(std::make_shared<Index::State>(
        being, emptyHeader, /*storedDiffers=*/true, std::string(), nullptr, true));
    fill(fresh);
    // The header, unless the fill stored it already.
    modifyHeader(fresh, [](File&, const CurrentHeader& current) { return current.get(); });
    const Header header = detail::IndexAccess::state(fresh).header.get().value();
    if (old && being->sameAsOld()) {
      // As durable as a new file would have been; one that may only be read is as it is.
      if (writeError == 0) old->sync();
      return {old, header};
    }
    std::shared_ptr<File> file = being->syncedTemporaryFile();
    env.renameFile(being->name(), path);
    renamed = true;
    // Durable from here on: the rename is in the directory, which is synced next. A failure
    // to sync leaves the new file in place, where the next reader finds it whole.
    env.syncDirectory(parentDirectory(path));
    return {std::move(file), header};
  } catch (...) {
    try {
      if (!renamed && being->madeTemporary() && env.linkStatus(being->name()).exists()) {
        env.removeFile(being->name());
      }
    } catch (...) {  // the failure that stopped the write is the one to report
    }
    throw;
  }
}

[[noreturn]] void throwClosed() { throwProblem(IndexProblem::AccessToClosedIndex()); }

}  // namespace

namespace detail {

Index writeIndexFile(Env& env, const std::string& path, FunctionRef<void(const Index&)> fill,
                     bool syncInThread, const std::string& model) {
  WrittenIndex written = writeBeside(env, path, fill, nullptr, syncInThread, model);
  return IndexAccess::make(std::make_shared<Index::State>(std::move(written.file), written.header,
                                                          false, path, &env, true));
}

void replaceIndex(const Index& index, FunctionRef<void(const Index&)> fill, bool syncInThread,
                  const std::string& model) {
  Index::State& state = detail::IndexAccess::state(index);
  if (state.path.empty()) {
    clearIndex(index);
    fill(index);
    return;
  }
  HeaderLock held(state.header);
  std::optional<Header>& header = state.header.value();
  if (!header) throwClosed();
  if (!state.writable && state.writeError == 0) throw IOError::system(EBADF, state.path, "write");
  const std::shared_ptr<File> old = state.file();
  WrittenIndex written =
      writeBeside(*state.env, state.path, fill, old, syncInThread, model, state.writeError);
  // Nothing below fails, so the handle gets the new file and header together or neither.
  header = written.header;
  state.storedHeaderDiffers = false;
  if (written.file == old) return;
  state.replaceFile(std::move(written.file));
  try {
    old->close();
  } catch (...) {  // nothing was written through it that a failing close could lose
  }
}

}  // namespace detail
}  // namespace tallowmere
