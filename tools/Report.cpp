#include "Report.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace tallowmere::cli {

namespace {

std::string withPath(const std::string& path, const std::string& reason) {
  if (reason.find(path) != std::string::npos) return reason;
  return path + ": " + reason;
}

}  // namespace

FileError::FileError(const std::string& path, const std::string& reason)
    : std::runtime_error(withPath(path, reason)) {}

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
