#include "Report.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace tallowmere::cli {

namespace {

// Whether `reason` names the file already: the platform's errors begin with the path (of the
// text or of its index), the library's opening errors quote it.
bool namesFile(const std::string& path, const std::string& reason) {
  const auto startsWith = [&](const std::string& prefix) { return reason.rfind(prefix, 0) == 0; };
  return startsWith(path + ": ") || startsWith(path + ".ix: ") ||
         reason.find('"' + path + '"') != std::string::npos;
}

std::string withPath(const std::string& path, const std::string& reason) {
  return namesFile(path, reason) ? reason : path + ": " + reason;
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
