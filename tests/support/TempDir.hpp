// A fresh, uniquely named directory for one test's files, removed with everything in it when
// the object goes away. It lives under $TMPDIR, or /tmp when that is unset or empty.
#pragma once

#include <string>
#include <string_view>

namespace tallowmere::test {

class TempDir {
 public:
  // Creates the directory; throws std::system_error when it cannot.
  TempDir();
  // Removes the directory recursively, ignoring failures (a destructor must not throw).
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory's own path.
  const std::string& path() const noexcept { return path_; }
  // `name` (which may contain '/') joined to the directory's path; nothing is created.
  std::string path(std::string_view name) const;

  // Writes `bytes` to the file `name` in the directory, replacing it; returns its path.
  // Throws std::system_error on failure.
  std::string writeFile(std::string_view name, std::string_view bytes) const;
  // All bytes of the file `name` in the directory. Throws std::system_error on failure.
  std::string readFile(std::string_view name) const;

 private:
  std::string path_;
};

}  // namespace tallowmere::test
