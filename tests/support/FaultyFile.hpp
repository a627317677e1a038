// A File that fails on command: wraps another File and throws an IOError (EIO) from the k-th
// operation of the kinds it watches, counting from 1. Used to drive an operation through a
// failure at every step it takes.
#pragma once

#include <cerrno>
#include <memory>
#include <string>
#include <utility>

#include "Platform/Errors.hpp"
#include "Platform/File.hpp"

namespace tallowmere::test {

class FaultyFile : public File {
 public:
  // Shared with the test, which keeps it after the Index has taken over the file.
  struct Plan {
    long failAt = 0;  // 0: never fail
    long count = 0;   // watched operations so far
    void arm(long k) {
      failAt = k;
      count = 0;
    }
    bool fired() const { return failAt != 0 && count >= failAt; }
  };

  FaultyFile(std::unique_ptr<File> inner, std::shared_ptr<Plan> plan)
      : inner_(std::move(inner)), plan_(std::move(plan)) {}

  void seek(std::int64_t offset) override {
    failIfPlanned("seek");
    inner_->seek(offset);
  }
  std::int64_t position() override { return inner_->position(); }
  std::size_t readSome(char* buffer, std::size_t size) override {
    failIfPlanned("read");
    return inner_->readSome(buffer, size);
  }
  void write(std::string_view bytes) override {
    if (planned()) {
      // A failing write may have stored part of its bytes, as a full disk does.
      inner_->write(bytes.substr(0, bytes.size() / 2));
      throw IOError::system(EIO, name(), "write");
    }
    inner_->write(bytes);
  }
  void flush() override {
    failIfPlanned("flush");
    inner_->flush();
  }
  std::int64_t size() override {
    failIfPlanned("size");
    return inner_->size();
  }
  void setSize(std::int64_t size) override {
    failIfPlanned("setSize");
    inner_->setSize(size);
  }
  bool atEnd() override {
    failIfPlanned("atEnd");
    return inner_->atEnd();
  }
  void close() override { inner_->close(); }
  bool isOpen() override { return inner_->isOpen(); }
  const std::string& name() const override { return inner_->name(); }

 private:
  // Counts one watched operation; true when it is the one planned to fail.
  bool planned() { return plan_->failAt != 0 && ++plan_->count == plan_->failAt; }
  void failIfPlanned(const char* operation) {
    if (planned()) throw IOError::system(EIO, name(), operation);
  }

  std::unique_ptr<File> inner_;
  std::shared_ptr<Plan> plan_;
};

}  // namespace tallowmere::test
