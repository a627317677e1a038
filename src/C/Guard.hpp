// What every entry point of the C interface shares: the handles, the guard that turns any
// exception into a status and the thread's last error, and the copies handed to the caller.
#pragma once

#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include <tallowmere/tallowmere.h>
#include <tallowmere/Data/Fortune/Collection.hpp>
#include <tallowmere/Data/Fortune/FortuneFile.hpp>

struct tm_collection {
  tallowmere::Collection collection;
};

struct tm_fortune_file {
  tallowmere::FortuneFile file;
};

namespace tallowmere::detail {

// Records `failure` as the calling thread's last error and returns its status. Never throws:
// when even the message cannot be copied, a fixed one stands in for it.
tm_status recordFailure(const std::exception& failure) noexcept;
// The same for a failure that is not a std::exception.
tm_status recordUnknownFailure() noexcept;

// A fault of the calling program that the interface itself finds (a NULL handle, say).
[[noreturn]] void usageFault(std::string_view function, std::string_view what);

// Runs `body`, which returns nothing or throws; every exception becomes a status.
template <class Body>
tm_status guarded(Body&& body) noexcept {
  try {
    body();
    return TM_OK;
  } catch (const std::exception& failure) {
    return recordFailure(failure);
  } catch (...) {
    return recordUnknownFailure();
  }
}

// Throws a usage fault naming `function` when `pointer` is NULL.
template <class T>
void require(const T* pointer, std::string_view function, std::string_view name) {
  if (pointer == nullptr) usageFault(function, name);
}

// A copy of `text` with a NUL byte after it, from malloc (tm_free frees it).
[[nodiscard]] char* copyString(std::string_view text);

// One block holding a tm_fortune and its strings, from malloc (tm_free frees it).
[[nodiscard]] tm_fortune* makeFortune(std::string_view path, std::int64_t number,
                                      std::string_view text);

// Whatever a filter pointer stands for (NULL: the defaults).
[[nodiscard]] FortuneFilter toFilter(const tm_filter* filter);

}  // namespace tallowmere::detail
