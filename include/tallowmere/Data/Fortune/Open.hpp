// Scoped opening of fortune files: open, run an action, close on every exit path.
#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include <tallowmere/Data/Fortune/FunctionRef.hpp>
#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

namespace detail {
// Called by the templates below, which programs compile: the shared library exports it.
TALLOWMERE_API void withFortuneFilesDo(char32_t delimiter, bool writable,
                                       const std::vector<std::string>& paths,
                                       const FortuneFileOptions& options,
                                       FunctionRef<void(const std::vector<FortuneFile>&)> action);
}  // namespace detail

// Opens each path in order with openFortuneFile(delimiter, writable, path), runs
// action(files) with the handles in the order of the paths, closes them in reverse order and
// returns (a copy of) the action's result. No paths: the action runs once with no handles.
//
// Failures: when opening the k-th path fails, the k-1 handles already open are closed and the
// opening failure propagates (later paths are never opened). When the action fails, every
// handle is closed and the action's failure propagates, even if a close fails too. When only
// closing fails, every other handle is still closed and the first close failure propagates;
// this includes a handle that the action closed itself, whose second close throws the
// UsageError "Fortune file is closed".
//
// The overloads with options open each file with openFortuneFile(delimiter, writable, path,
// options).
template <class Action>
auto withFortuneFiles(char32_t delimiter, bool writable, const std::vector<std::string>& paths,
                      const FortuneFileOptions& options, Action&& action)
    -> std::decay_t<std::invoke_result_t<Action&, const std::vector<FortuneFile>&>> {
  using Result = std::decay_t<std::invoke_result_t<Action&, const std::vector<FortuneFile>&>>;
  if constexpr (std::is_void_v<Result>) {
    detail::withFortuneFilesDo(delimiter, writable, paths, options, action);
  } else {
    std::optional<Result> result;
    detail::withFortuneFilesDo(
        delimiter, writable, paths, options,
        [&](const std::vector<FortuneFile>& files) { result.emplace(action(files)); });
    return std::move(*result);
  }
}

template <class Action>
auto withFortuneFiles(char32_t delimiter, bool writable, const std::vector<std::string>& paths,
                      Action&& action) {
  return withFortuneFiles(delimiter, writable, paths, FortuneFileOptions{},
                          std::forward<Action>(action));
}

// withFortuneFiles for one path: action(file).
template <class Action>
auto withFortuneFile(char32_t delimiter, bool writable, const std::string& path,
                     const FortuneFileOptions& options, Action&& action)
    -> std::decay_t<std::invoke_result_t<Action&, const FortuneFile&>> {
  return withFortuneFiles(delimiter, writable, std::vector<std::string>{path}, options,
                          [&](const std::vector<FortuneFile>& files)
                              -> std::decay_t<std::invoke_result_t<Action&, const FortuneFile&>> {
                            return action(files.front());
                          });
}

template <class Action>
auto withFortuneFile(char32_t delimiter, bool writable, const std::string& path, Action&& action) {
  return withFortuneFile(delimiter, writable, path, FortuneFileOptions{},
                         std::forward<Action>(action));
}

}  // namespace tallowmere
