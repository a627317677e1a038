// Which file the running code was loaded from, so that an installed copy can find the files
// installed beside it wherever its prefix was moved.
#pragma once

#include <string>

namespace tallowmere {

// The file that holds the code or data at `address`, with symbolic links resolved: the shared
// library it belongs to, or the program itself when the program holds it (the static library
// linked into it). Empty when that cannot be told, for example for a program deleted since it
// started.
[[nodiscard]] std::string loadedObjectPath(const void* address);

}  // namespace tallowmere
