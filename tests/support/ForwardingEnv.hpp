// An Env that hands every operation to another one: a base for test Envs that change one or two
// operations.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <tallowmere/Platform/Env.hpp>

namespace tallowmere::test {

class ForwardingEnv : public Env {
 public:
  explicit ForwardingEnv(Env& inner) : inner_(inner) {}

  std::unique_ptr<File> openFile(const std::string& path, OpenMode mode) override {
    return inner_.openFile(path, mode);
  }
  FileStatus status(const std::string& path) noexcept override { return inner_.status(path); }
  FileStatus linkStatus(const std::string& path) noexcept override {
    return inner_.linkStatus(path);
  }
  void copyModeAndGroup(File& file, const std::string& model) override {
    inner_.copyModeAndGroup(file, model);
  }
  std::vector<std::string> listDirectory(const std::string& path) override {
    return inner_.listDirectory(path);
  }
  void renameFile(const std::string& from, const std::string& to) override {
    inner_.renameFile(from, to);
  }
  void removeFile(const std::string& path) override { inner_.removeFile(path); }
  void syncDirectory(const std::string& path) override { inner_.syncDirectory(path); }
  std::unique_ptr<FileLock> lockFile(File& file, LockMode mode) override {
    return inner_.lockFile(file, mode);
  }

 protected:
  Env& inner_;
};

}  // namespace tallowmere::test
