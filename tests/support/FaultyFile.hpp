// Files and an Env that fail on command, to drive an operation through a failure at every step
// it takes.
//
// A Plan counts the watched operations of every FaultyFile and FaultyEnv that share it, from 1,
// and makes the failAt-th one throw an IOError (EIO, or the errno the plan names). A failing
// write that spans sectors of 512 bytes stores the first half of its bytes first, as a full
// disk does; one within a sector stores nothing. A plan that is `sticky`
// fails every watched operation from failAt on, as a process stopped at that step would leave
// things: nothing after it reaches the files (releasing locks and closing still work, as the
// system does them for a process that dies).
#pragma once

#include <cerrno>
#include <memory>
#include <string>
#include <utility>

#include <tallowmere/Platform/Env.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include <tallowmere/Platform/File.hpp>

namespace tallowmere::test {

struct Plan {
  long failAt = 0;  // 0: never fail
  long count = 0;   // watched operations so far
  int error = EIO;
  bool sticky = false;

  void arm(long k, bool stickyFailure = false) {
    failAt = k;
    count = 0;
    sticky = stickyFailure;
  }
  bool fired() const { return failAt != 0 && count >= failAt; }
  // Counts one watched operation; true when it is to fail.
  bool fails() {
    if (failAt == 0) return false;
    ++count;
    return sticky ? count >= failAt : count == failAt;
  }
};

class FaultyFile : public File {
 public:
  FaultyFile(std::unique_ptr<File> inner, std::shared_ptr<Plan> plan)
      : inner_(std::move(inner)), plan_(std::move(plan)) {}

  std::size_t readAt(std::int64_t offset, char* buffer, std::size_t size) override {
    failIfPlanned("read");
    return inner_->readAt(offset, buffer, size);
  }
  void writeAt(std::int64_t offset, std::string_view bytes) override {
    if (plan_->fails()) {
      // A failing write may have stored part of its bytes, as a full disk does; but a write
      // within one sector of 512 bytes is stored whole or not at all, as disks do.
      const bool oneSector =
          offset / 512 == (offset + static_cast<std::int64_t>(bytes.size()) - 1) / 512;
      if (!oneSector && (!plan_->sticky || plan_->count == plan_->failAt)) {
        inner_->writeAt(offset, bytes.substr(0, bytes.size() / 2));
      }
      throw IOError::system(plan_->error, name(), "write");
    }
    inner_->writeAt(offset, bytes);
  }
  std::int64_t size() override {
    failIfPlanned("size");
    return inner_->size();
  }
  void setSize(std::int64_t size) override {
    failIfPlanned("setSize");
    inner_->setSize(size);
  }
  void sync() override {
    failIfPlanned("sync");
    inner_->sync();
  }
  FileIdentity identity() override {
    failIfPlanned("identity");
    return inner_->identity();
  }
  void close() override { inner_->close(); }
  bool isOpen() override { return inner_->isOpen(); }
  const std::string& name() const override { return inner_->name(); }

  File& inner() { return *inner_; }

 private:
  void failIfPlanned(const char* operation) {
    if (plan_->fails()) throw IOError::system(plan_->error, name(), operation);
  }

  std::unique_ptr<File> inner_;
  std::shared_ptr<Plan> plan_;
};

// An Env whose every operation, and every operation of the files it opens, counts in `plan`.
// A status query that fails answers Missing, as one that cannot examine the path does.
class FaultyEnv : public Env {
 public:
  FaultyEnv(Env& inner, std::shared_ptr<Plan> plan) : inner_(inner), plan_(std::move(plan)) {}

  std::unique_ptr<File> openFile(const std::string& path, OpenMode mode) override {
    failIfPlanned(path, "open");
    return std::make_unique<FaultyFile>(inner_.openFile(path, mode), plan_);
  }
  FileStatus status(const std::string& path) noexcept override {
    if (plan_->fails()) return {};
    return inner_.status(path);
  }
  FileStatus linkStatus(const std::string& path) noexcept override {
    if (plan_->fails()) return {};
    return inner_.linkStatus(path);
  }
  void copyModeAndGroup(File& file, const std::string& model) override {
    failIfPlanned(model, "set mode");
    inner_.copyModeAndGroup(static_cast<FaultyFile&>(file).inner(), model);
  }
  std::vector<std::string> listDirectory(const std::string& path) override {
    failIfPlanned(path, "opendir");
    return inner_.listDirectory(path);
  }
  void renameFile(const std::string& from, const std::string& to) override {
    failIfPlanned(to, "rename");
    inner_.renameFile(from, to);
  }
  void removeFile(const std::string& path) override {
    failIfPlanned(path, "remove");
    inner_.removeFile(path);
  }
  void syncDirectory(const std::string& path) override {
    failIfPlanned(path, "sync");
    inner_.syncDirectory(path);
  }
  std::unique_ptr<FileLock> lockFile(File& file, LockMode mode) override {
    failIfPlanned(file.name(), "lock");
    return inner_.lockFile(static_cast<FaultyFile&>(file).inner(), mode);
  }

 private:
  void failIfPlanned(const std::string& path, const char* operation) {
    if (plan_->fails()) throw IOError::system(plan_->error, path, operation);
  }

  Env& inner_;
  std::shared_ptr<Plan> plan_;
};

}  // namespace tallowmere::test
