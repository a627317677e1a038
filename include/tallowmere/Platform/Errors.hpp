// The failure types of the library, and the one reason every failure gives.
//
// IOError: every input/output failure. A platform error carries the errno value and the path
// of the file; an error "of the user-error kind" is raised by the library itself for bad data
// or bad arguments (an entry number out of range, a file too short to decode, a missing fortune
// file) and carries a fixed message as what().
//
// UsageError: a fault of the calling program (a closed fortune file, a lock taken again by the
// thread that holds it, a value outside an enumeration), with a fixed message as what().
//
// Every failure the library raises, these two and the index problems of
// Data/Fortune/Index/Problems.hpp, also says why it happened as an ErrorReason, and names the
// file it concerns where there is one, so that a program can act on a failure without reading
// its message:
//
//   try { ... } catch (const std::exception& e) {
//     if (errorReason(e) == ErrorReason::DamagedIndex) rebuild(errorPath(e));
//   }
#pragma once

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>

#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

// Why an operation failed.
enum class ErrorReason {
  Other,             // none of the below (a platform error without a closer reason, say)
  NotFound,          // no such file or directory (ENOENT, a missing fortune file)
  PermissionDenied,  // EACCES, EPERM, EROFS
  NotAFile,          // a directory or a device where a fortune file was wanted
  NotText,           // a binary file (a program, an image) where fortunes were wanted
  OutOfRange,        // a fortune or entry number beyond the file's fortunes
  InvalidUtf8,       // text that is not valid UTF-8 (EILSEQ)
  DamagedIndex,      // an index or data file that cannot be read as one
  StaleIndex,        // an index that no longer describes its text
  NothingToDraw,     // no file, or no fortune that the draw admits
  TooManyOpenFiles,  // EMFILE, ENFILE
  NoSpace,           // ENOSPC, EDQUOT, EFBIG: the disk or a limit is full
  BadPattern,        // a regular expression that does not compile
  TooLarge,          // a text or fortune beyond what the format can hold
  BadArgument,       // a malformed argument from the user (a share above 100%, say)
  Usage,             // a fault of the calling program: a UsageError
};

// "not found", "permission denied", ... (lower case, for messages).
[[nodiscard]] TALLOWMERE_API std::string_view show(ErrorReason reason) noexcept;
TALLOWMERE_API std::ostream& operator<<(std::ostream& out, ErrorReason reason);

// The reason that a platform error number stands for; Other for those without one.
[[nodiscard]] TALLOWMERE_API ErrorReason reasonOfErrno(int errnum) noexcept;

class TALLOWMERE_API IOError : public std::runtime_error {
 public:
  enum class Kind {
    UserError,  // raised by the library for bad data or bad arguments
    System,     // a failing system call; errorCode() holds its errno
  };

  // An error of the user-error kind; `message` becomes what() unchanged. `path` names the file
  // the error is about, when there is one.
  [[nodiscard]] static IOError userError(const std::string& message, std::string path = {},
                                         ErrorReason reason = ErrorReason::Other);
  // A failing system call: what() reads "<path>: <operation>: <strerror(errnum)>". The reason
  // is reasonOfErrno(errnum) unless one is given.
  [[nodiscard]] static IOError system(int errnum, std::string path, const std::string& operation);
  [[nodiscard]] static IOError system(int errnum, std::string path, const std::string& operation,
                                      ErrorReason reason);

  [[nodiscard]] Kind kind() const noexcept { return kind_; }
  [[nodiscard]] bool isUserError() const noexcept { return kind_ == Kind::UserError; }
  [[nodiscard]] int errorCode() const noexcept { return errorCode_; }  // 0 for user errors
  // The file the error is about: always for system errors, where one is known for user errors.
  [[nodiscard]] const std::string& path() const noexcept { return path_; }
  [[nodiscard]] ErrorReason reason() const noexcept { return reason_; }

  // The same error about another file, or for another reason: what() is kept. For a layer that
  // knows what a lower one did not (the index that a too-short read came from).
  [[nodiscard]] IOError about(std::string path, ErrorReason reason) const;

 private:
  IOError(Kind kind, int errorCode, std::string path, const std::string& message,
          ErrorReason reason);

  Kind kind_;
  int errorCode_;
  std::string path_;
  ErrorReason reason_;
};

class TALLOWMERE_API UsageError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
  [[nodiscard]] static constexpr ErrorReason reason() noexcept { return ErrorReason::Usage; }
};

// The reason of any failure: that of a failure of this library, NotFound and so on for a
// std::filesystem or std::system_error failure with an error code, TooLarge for
// std::bad_alloc and std::length_error, Other for anything else.
[[nodiscard]] TALLOWMERE_API ErrorReason errorReason(const std::exception& failure) noexcept;
// The file a failure of this library concerns; empty when it names none.
[[nodiscard]] TALLOWMERE_API std::string errorPath(const std::exception& failure);

}  // namespace tallowmere
