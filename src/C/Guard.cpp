// The thread's last error, the statuses, and what the C interface hands out.
#include "C/Guard.hpp"

#include <cstring>
#include <new>

#include <tallowmere/Paths_tallowmere.hpp>
#include <tallowmere/Platform/Errors.hpp>

namespace tallowmere::detail {
namespace {

// Each status is its reason's number plus one, TM_OK before them all.
static_assert(TM_ERR_OTHER == static_cast<int>(ErrorReason::Other) + 1);
static_assert(TM_ERR_NOT_FOUND == static_cast<int>(ErrorReason::NotFound) + 1);
static_assert(TM_ERR_PERMISSION_DENIED == static_cast<int>(ErrorReason::PermissionDenied) + 1);
static_assert(TM_ERR_NOT_A_FILE == static_cast<int>(ErrorReason::NotAFile) + 1);
static_assert(TM_ERR_NOT_TEXT == static_cast<int>(ErrorReason::NotText) + 1);
static_assert(TM_ERR_OUT_OF_RANGE == static_cast<int>(ErrorReason::OutOfRange) + 1);
static_assert(TM_ERR_INVALID_UTF8 == static_cast<int>(ErrorReason::InvalidUtf8) + 1);
static_assert(TM_ERR_DAMAGED_INDEX == static_cast<int>(ErrorReason::DamagedIndex) + 1);
static_assert(TM_ERR_STALE_INDEX == static_cast<int>(ErrorReason::StaleIndex) + 1);
static_assert(TM_ERR_NOTHING_TO_DRAW == static_cast<int>(ErrorReason::NothingToDraw) + 1);
static_assert(TM_ERR_TOO_MANY_OPEN_FILES == static_cast<int>(ErrorReason::TooManyOpenFiles) + 1);
static_assert(TM_ERR_NO_SPACE == static_cast<int>(ErrorReason::NoSpace) + 1);
static_assert(TM_ERR_BAD_PATTERN == static_cast<int>(ErrorReason::BadPattern) + 1);
static_assert(TM_ERR_TOO_LARGE == static_cast<int>(ErrorReason::TooLarge) + 1);
static_assert(TM_ERR_BAD_ARGUMENT == static_cast<int>(ErrorReason::BadArgument) + 1);
static_assert(TM_ERR_USAGE == static_cast<int>(ErrorReason::Usage) + 1);

constexpr tm_status statusOf(ErrorReason reason) noexcept {
  return static_cast<tm_status>(static_cast<int>(reason) + 1);
}

struct LastError {
  tm_status status = TM_OK;
  std::string message;
  std::string path;
  bool truncated = false;  // the message could not be copied
};

thread_local LastError lastError;

tm_status record(tm_status status, const char* message, const std::string& path) noexcept {
  lastError.status = status;
  try {
    lastError.message = message;
    lastError.path = path;
    lastError.truncated = false;
  } catch (...) {
    lastError.message.clear();
    lastError.path.clear();
    lastError.truncated = true;
  }
  return status;
}

}  // namespace

tm_status recordFailure(const std::exception& failure) noexcept {
  const tm_status status = statusOf(errorReason(failure));
  try {
    return record(status, failure.what(), errorPath(failure));
  } catch (...) {  // errorPath could not copy the path
    return record(status, failure.what(), {});
  }
}

tm_status recordUnknownFailure() noexcept { return record(TM_ERR_OTHER, "unknown failure", {}); }

void usageFault(std::string_view function, std::string_view what) {
  throw UsageError(std::string(function) + ": " + std::string(what) + " is NULL");
}

char* copyString(std::string_view text) {
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) throw std::bad_alloc();
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

tm_fortune* makeFortune(std::string_view path, std::int64_t number, std::string_view text) {
  const std::size_t size = sizeof(tm_fortune) + path.size() + 1 + text.size() + 1;
  void* block = std::malloc(size);
  if (block == nullptr) throw std::bad_alloc();
  auto* fortune = new (block) tm_fortune{};
  char* strings = static_cast<char*>(block) + sizeof(tm_fortune);
  if (!path.empty()) std::memcpy(strings, path.data(), path.size());
  strings[path.size()] = '\0';
  char* textCopy = strings + path.size() + 1;
  if (!text.empty()) std::memcpy(textCopy, text.data(), text.size());
  textCopy[text.size()] = '\0';
  fortune->path = strings;
  fortune->number = number;
  fortune->text = textCopy;
  fortune->text_length = text.size();
  return fortune;
}

FortuneFilter toFilter(const tm_filter* filter) {
  FortuneFilter result;
  if (filter == nullptr) return result;
  switch (filter->length) {
    case TM_LENGTH_ANY:
      result.length = LengthFilter::Any;
      break;
    case TM_LENGTH_SHORT:
      result.length = LengthFilter::Short;
      break;
    case TM_LENGTH_LONG:
      result.length = LengthFilter::Long;
      break;
    default:
      throw UsageError("tm_filter: length is not a tm_length");
  }
  if (filter->length_limit < 0) throw UsageError("tm_filter: length_limit is negative");
  if (filter->length_limit > 0) result.lengthLimit = filter->length_limit;
  switch (filter->weighting) {
    case TM_WEIGHT_BY_FORTUNE:
      result.weighting = Weighting::ByFortune;
      break;
    case TM_WEIGHT_BY_FILE:
      result.weighting = Weighting::ByFile;
      break;
    default:
      throw UsageError("tm_filter: weighting is not a tm_weighting");
  }
  return result;
}

}  // namespace tallowmere::detail

using tallowmere::detail::lastError;

extern "C" {

const char* tm_status_string(tm_status status) {
  if (status == TM_OK) return "ok";
  if (status < TM_ERR_OTHER || status > TM_ERR_USAGE) return "unknown status";
  // show() gives views of string literals, which end with a NUL byte.
  return tallowmere::show(static_cast<tallowmere::ErrorReason>(static_cast<int>(status) - 1))
      .data();
}

tm_status tm_last_error_status(void) { return lastError.status; }

const char* tm_last_error_message(void) {
  if (lastError.truncated) return "out of memory while recording an error";
  return lastError.message.c_str();
}

const char* tm_last_error_path(void) { return lastError.path.c_str(); }

const char* tm_version(void) { return tallowmere::detail::versionText; }

void tm_free(void* pointer) { std::free(pointer); }

}  // extern "C"
