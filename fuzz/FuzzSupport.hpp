// Helpers shared by the fuzz targets: a check that aborts with a message (so that libFuzzer
// records the input as a crash, also in builds with NDEBUG), a guard that lets only the
// documented exception types escape, and a reader that takes control values from the front
// of an input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <typeinfo>

#define FUZZ_CHECK(condition)                                                   \
  do {                                                                          \
    if (!(condition)) ::tallowmere::fuzz::fail(__FILE__, __LINE__, #condition); \
  } while (false)

namespace tallowmere::fuzz {

// What the current input is doing, printed with a failed check (the target sets it).
inline std::string failureContext;

[[noreturn]] inline void fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  if (!failureContext.empty()) std::fprintf(stderr, "while %s\n", failureContext.c_str());
  std::abort();
}

// Runs `action`; an exception of one of the types `Allowed...` is swallowed and reported by
// returning false, any other exception aborts with its type and message.
template <class... Allowed, class Action>
bool onlyThrows(Action&& action) {
  try {
    action();
    return true;
  } catch (...) {
    const std::exception_ptr caught = std::current_exception();
    const auto isAllowed = [&]<class E>() {
      try {
        std::rethrow_exception(caught);
      } catch (const E&) {
        return true;
      } catch (...) {
        return false;
      }
    };
    if ((isAllowed.template operator()<Allowed>() || ...)) return false;
    try {
      std::rethrow_exception(caught);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "undocumented exception %s: %s\n", typeid(e).name(), e.what());
    } catch (...) {
      std::fprintf(stderr, "undocumented exception of a non-standard type\n");
    }
    if (!failureContext.empty()) std::fprintf(stderr, "while %s\n", failureContext.c_str());
    std::abort();
  }
}

// Takes control values from the front of the input; once it is used up, every value is 0.
class Controls {
 public:
  Controls(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  std::uint8_t byte() {
    if (rest_.empty()) return 0;
    const auto value = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return value;
  }
  std::uint32_t u32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | byte();
    return value;
  }
  // What is left after the control values taken so far.
  std::string_view rest() const { return rest_; }

 private:
  std::string_view rest_;
};

}  // namespace tallowmere::fuzz
