#include "Report.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include <tallowmere/Platform/Errors.hpp>

namespace tallowmere::cli {

namespace {

// A FileError, and a library error that carries a path, name their file in the message already
// (the text or its index); every other failure is about `path` and says so first.
std::string messageAbout(const std::string& path, const std::exception& failure) {
  if (dynamic_cast<const FileError*>(&failure) != nullptr) return failure.what();
  const auto* ioError = dynamic_cast<const IOError*>(&failure);
  if (ioError != nullptr && !ioError->path().empty()) return failure.what();
  return path + ": " + failure.what();
}

}  // namespace

FileError::FileError(const std::string& path, const std::string& reason)
    : std::runtime_error(path + ": " + reason) {}

FileError::FileError(const std::string& path, const std::exception& failure)
    : std::runtime_error(messageAbout(path, failure)) {}

void reportSkipped(const IOError& error) {
  std::cout.flush();
  std::error_code ignored;
  if (error.errorCode() != 0 && std::filesystem::is_directory(error.path(), ignored)) {
    std::cerr << "tallowmere: " << error.path() << ": cannot read this directory ("
              << std::strerror(error.errorCode()) << "); the rest is used\n";
    return;
  }
  std::cerr << "tallowmere: " << error.what() << "; left out\n";
}

std::string kindName(FortuneType kind) {
  // In the order of the kinds: All, Normal, Offensive.
  constexpr std::array names{"any", "inoffensive", "offensive"};
  return names.at(static_cast<std::size_t>(fromEnum(kind)));
}

void flushStandardOutput() {
  std::cout.flush();
  errno = 0;
  if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int error = errno;
    throw std::runtime_error(std::string("standard output: write error") +
                             (error != 0 ? std::string(": ") + std::strerror(error) : ""));
  }
}

}  // namespace tallowmere::cli
