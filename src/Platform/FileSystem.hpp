// File-system queries: what a path names, what a directory holds, and which directory it is.
//
// Every test follows symbolic links, so a link counts as what it leads to and a dangling link
// as nothing. The tests never throw: a path that cannot be examined (missing, no permission,
// empty) simply is not a file or a directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tallowmere {

// Where a directory lives: its device and inode. Two paths with the same identity reach the
// same directory, whichever links lie on the way.
struct FileIdentity {
  std::uint64_t device;
  std::uint64_t inode;

  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// True when `path` names an existing regular file (or anything else that is not a directory).
bool isExistingFile(const std::string& path) noexcept;

// True when `path` names an existing directory.
bool isExistingDirectory(const std::string& path) noexcept;

// The identity of the directory that `path` names; no value when it names no directory.
std::optional<FileIdentity> directoryIdentity(const std::string& path) noexcept;

// The names of the entries of a directory in the order the system returns them, "." and ".."
// included. Throws the platform's IOError (errno and path) when the directory cannot be read.
std::vector<std::string> listDirectory(const std::string& path);

}  // namespace tallowmere
