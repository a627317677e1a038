// How the program reports failures: "tallowmere: " and a message that names the file.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

#include <tallowmere/Data/Fortune/Types.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "CommandLine.hpp"

namespace tallowmere::cli {

// A failure while working on one file. Its message is "<path>: <reason>"; made from another
// failure, it is that failure's message alone when the failure is a library error that carries
// the path of its file (its message names that file already).
class FileError : public std::runtime_error {
 public:
  FileError(const std::string& path, const std::string& reason);
  FileError(const std::string& path, const std::exception& failure);
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
    throw FileError(path, e);
  }
}

// Tells of a file or directory that a collection leaves out, in one line on standard error.
void reportSkipped(const IOError& error);

// "inoffensive", "offensive", "any" (for messages).
std::string kindName(FortuneType kind);

// Writes what is buffered for standard output and throws a std::runtime_error when it could
// not be written (a full disk, a closed pipe), so that a lost fortune is never a success.
void flushStandardOutput();

}  // namespace tallowmere::cli
