#include <tallowmere/Platform/Errors.hpp>

#include <cstring>
#include <utility>

namespace tallowmere {

IOError::IOError(Kind kind, int errorCode, std::string path, const std::string& message)
    : std::runtime_error(message), kind_(kind), errorCode_(errorCode), path_(std::move(path)) {}

IOError IOError::userError(const std::string& message, std::string path) {
  return IOError(Kind::UserError, 0, std::move(path), message);
}

IOError IOError::system(int errnum, std::string path, const std::string& operation) {
  std::string message = path + ": " + operation + ": " + std::strerror(errnum);
  return IOError(Kind::System, errnum, std::move(path), message);
}

}  // namespace tallowmere
