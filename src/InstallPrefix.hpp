// The prefix that this copy of tallowmere is installed under. A copy moved away from the
// prefix it was built for (`cmake --install --prefix`, an unpacked archive) finds its own
// files from where its code lies: the command and the programs linked to the static library
// in <prefix>/bin, the shared library in <prefix>/<libdir>.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tallowmere::detail {

// The data directory below the prefix.
constexpr std::string_view kDataDirBelowPrefix = "share/tallowmere";

// The prefix above `file` when the file lies directly in one of `codeDirs` (each relative to a
// prefix, such as "bin" or "lib/x86_64-linux-gnu"): its directory with that ending cut off,
// "/" for a file in /bin. No value when it lies in none of them.
[[nodiscard]] std::optional<std::string> prefixAbove(std::string_view file,
                                                     std::span<const std::string_view> codeDirs);

// The prefix above `file` (as prefixAbove says) when the data directory exists below it; else
// `configured`.
[[nodiscard]] std::string installedPrefix(std::string_view file,
                                          std::span<const std::string_view> codeDirs,
                                          const std::string& configured);

// installedPrefix for the file this library's code was loaded from, the directories it is
// installed in and the prefix it was built for. The file is looked up once; the data
// directory's existence at every call.
[[nodiscard]] std::string installedPrefix();

}  // namespace tallowmere::detail
