// How the program reports failures: "tallowmere: " and a message that names the file.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

#include "CommandLine.hpp"

namespace tallowmere::cli {

// A failure while working on one file. Its message is "<path>: <reason>", or the reason alone
// when it names the path already (as the platform's errors and the opening errors do).
class FileError : public std::runtime_error {
 public:
  FileError(const std::string& path, const std::string& reason);
};

// Runs action() and turns any failure except BadUsage into a FileError about `path`.
template <class Action>
decltype(auto) aboutFile(const std::string& path, Action&& action) {
  try {
    return std::forward<Action>(action)();
  } catch (const BadUsage&) {
    throw;
  } catch (const FileError&) {
    throw;
  } catch (const std::exception& e) {
    throw FileError(path, e.what());
  }
}

// Writes what is buffered for standard output and throws a std::runtime_error when it could
// not be written (a full disk, a closed pipe), so that a lost fortune is never a success.
void flushStandardOutput();

}  // namespace tallowmere::cli
