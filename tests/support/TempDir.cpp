#include "support/TempDir.hpp"

#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace tallowmere::test {

namespace {

std::string baseDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

[[noreturn]] void fail(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = baseDirectory() + "/tallowmere-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) fail(errno, "mkdtemp " + pattern);
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::path(std::string_view name) const {
  std::string joined = path_;
  joined += '/';
  joined += name;
  return joined;
}

std::string TempDir::writeFile(std::string_view name, std::string_view bytes) const {
  const std::string target = path(name);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) fail(EIO, "cannot write " + target);
  return target;
}

std::string TempDir::readFile(std::string_view name) const {
  const std::string target = path(name);
  std::ifstream in(target, std::ios::binary);
  if (!in) fail(ENOENT, "cannot open " + target);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) fail(EIO, "cannot read " + target);
  return bytes;
}

}  // namespace tallowmere::test
