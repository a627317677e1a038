#include <tallowmere/Platform/Errors.hpp>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <ostream>
#include <system_error>
#include <utility>

#include <tallowmere/Data/Fortune/Index/Problems.hpp>

namespace tallowmere {

std::string_view show(ErrorReason reason) noexcept {
  switch (reason) {
    case ErrorReason::Other:
      return "other";
    case ErrorReason::NotFound:
      return "not found";
    case ErrorReason::PermissionDenied:
      return "permission denied";
    case ErrorReason::NotAFile:
      return "not a file";
    case ErrorReason::NotText:
      return "not text";
    case ErrorReason::OutOfRange:
      return "out of range";
    case ErrorReason::InvalidUtf8:
      return "invalid UTF-8";
    case ErrorReason::DamagedIndex:
      return "damaged index";
    case ErrorReason::StaleIndex:
      return "stale index";
    case ErrorReason::NothingToDraw:
      return "nothing to draw";
    case ErrorReason::TooManyOpenFiles:
      return "too many open files";
    case ErrorReason::NoSpace:
      return "no space";
    case ErrorReason::BadPattern:
      return "bad pattern";
    case ErrorReason::TooLarge:
      return "too large";
    case ErrorReason::BadArgument:
      return "bad argument";
    case ErrorReason::Usage:
      return "usage";
  }
  return "other";
}

std::ostream& operator<<(std::ostream& out, ErrorReason reason) { return out << show(reason); }

ErrorReason reasonOfErrno(int errnum) noexcept {
  switch (errnum) {
    case ENOENT:
    case ENOTDIR:
      return ErrorReason::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return ErrorReason::PermissionDenied;
    case EISDIR:
    case ESPIPE:
    case ENXIO:
      return ErrorReason::NotAFile;
    case EILSEQ:
      return ErrorReason::InvalidUtf8;
    case EMFILE:
    case ENFILE:
      return ErrorReason::TooManyOpenFiles;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ErrorReason::NoSpace;
    case ENOMEM:
      return ErrorReason::TooLarge;
    default:
      return ErrorReason::Other;
  }
}

IOError::IOError(Kind kind, int errorCode, std::string path, const std::string& message,
                 ErrorReason reason)
    : std::runtime_error(message),
      kind_(kind),
      errorCode_(errorCode),
      path_(std::move(path)),
      reason_(reason) {}

IOError IOError::userError(const std::string& message, std::string path, ErrorReason reason) {
  return IOError(Kind::UserError, 0, std::move(path), message, reason);
}

IOError IOError::system(int errnum, std::string path, const std::string& operation) {
  return system(errnum, std::move(path), operation, reasonOfErrno(errnum));
}

IOError IOError::system(int errnum, std::string path, const std::string& operation,
                        ErrorReason reason) {
  std::string message = path + ": " + operation + ": " + std::strerror(errnum);
  return IOError(Kind::System, errnum, std::move(path), message, reason);
}

IOError IOError::about(std::string path, ErrorReason reason) const {
  return IOError(kind_, errorCode_, std::move(path), what(), reason);
}

ErrorReason errorReason(const std::exception& failure) noexcept {
  if (const auto* io = dynamic_cast<const IOError*>(&failure)) return io->reason();
  if (const auto* problem = dynamic_cast<const IndexProblemError*>(&failure)) {
    return problem->reason();
  }
  if (dynamic_cast<const UsageError*>(&failure) != nullptr) return ErrorReason::Usage;
  if (const auto* system = dynamic_cast<const std::system_error*>(&failure)) {
    if (system->code().category() == std::generic_category() ||
        system->code().category() == std::system_category()) {
      return reasonOfErrno(system->code().value());
    }
  }
  if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr ||
      dynamic_cast<const std::length_error*>(&failure) != nullptr) {
    return ErrorReason::TooLarge;
  }
  return ErrorReason::Other;
}

std::string errorPath(const std::exception& failure) {
  if (const auto* io = dynamic_cast<const IOError*>(&failure)) return io->path();
  if (const auto* problem = dynamic_cast<const IndexProblemError*>(&failure)) {
    return problem->path();
  }
  if (const auto* fs = dynamic_cast<const std::filesystem::filesystem_error*>(&failure)) {
    return fs->path1().string();
  }
  return {};
}

}  // namespace tallowmere
