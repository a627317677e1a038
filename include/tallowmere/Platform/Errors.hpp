// The two failure types of the library.
//
// IOError: every input/output failure. A platform error carries the errno value and the path
// of the file; an error "of the user-error kind" is raised by the library itself for bad data
// or bad arguments (an entry number out of range, a file too short to decode, a missing fortune
// file) and carries a fixed message as what().
//
// UsageError: a fault of the calling program (a closed fortune file, a lock taken again by the
// thread that holds it, a value outside an enumeration), with a fixed message as what().
#pragma once

#include <stdexcept>
#include <string>

namespace tallowmere {

class IOError : public std::runtime_error {
 public:
  enum class Kind {
    UserError,  // raised by the library for bad data or bad arguments
    System,     // a failing system call; errorCode() holds its errno
  };

  // An error of the user-error kind; `message` becomes what() unchanged. `path` names the file
  // the error is about, when there is one.
  [[nodiscard]] static IOError userError(const std::string& message, std::string path = {});
  // A failing system call: what() reads "<path>: <operation>: <strerror(errnum)>".
  [[nodiscard]] static IOError system(int errnum, std::string path, const std::string& operation);

  [[nodiscard]] Kind kind() const noexcept { return kind_; }
  [[nodiscard]] bool isUserError() const noexcept { return kind_ == Kind::UserError; }
  [[nodiscard]] int errorCode() const noexcept { return errorCode_; }  // 0 for user errors
  // The file the error is about: always for system errors, where one is known for user errors.
  [[nodiscard]] const std::string& path() const noexcept { return path_; }

 private:
  IOError(Kind kind, int errorCode, std::string path, const std::string& message);

  Kind kind_;
  int errorCode_;
  std::string path_;
};

class UsageError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

}  // namespace tallowmere
