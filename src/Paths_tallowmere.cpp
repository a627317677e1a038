#include <tallowmere/Paths_tallowmere.hpp>

#include <optional>
#include <string_view>
#include <utility>

#include "InstallPrefix.hpp"
#include "Platform/Environment.hpp"

namespace tallowmere {
namespace {

// The prefix this copy is installed under with a directory below it, without doubling a '/' at
// the join.
std::string underPrefix(std::string_view below) {
  std::string prefix = detail::installedPrefix();
  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  return prefix + "/" + std::string(below);
}

std::string versioned(std::string_view below) {
  return std::string(below) + "/tallowmere-" + detail::versionText;
}

// The variable's value when it is set, even to the empty text; else the directory below the
// prefix (which is then looked for).
std::string fromEnvironment(const char* variable, std::string_view below) {
  if (std::optional<std::string> value = lookupEnv(variable)) return *std::move(value);
  return underPrefix(below);
}

Version parseVersion(std::string_view text) {
  Version parsed;
  int number = 0;
  for (const char c : text) {
    if (c == '.') {
      parsed.versionBranch.push_back(number);
      number = 0;
    } else {
      number = number * 10 + (c - '0');
    }
  }
  parsed.versionBranch.push_back(number);
  return parsed;
}

}  // namespace

std::string getBinDir() { return fromEnvironment("tallowmere_bindir", "bin"); }
std::string getLibDir() { return fromEnvironment("tallowmere_libdir", versioned("lib")); }
std::string getDynLibDir() { return fromEnvironment("tallowmere_dynlibdir", "lib"); }
std::string getLibexecDir() {
  return fromEnvironment("tallowmere_libexecdir", versioned("libexec"));
}
std::string getDataDir() {
  return fromEnvironment("tallowmere_datadir", detail::kDataDirBelowPrefix);
}
std::string getSysconfDir() { return fromEnvironment("tallowmere_sysconfdir", "etc"); }

std::string getDataFileName(const std::string& name) {
  std::string dir = getDataDir();
  if (dir.empty() || dir == ".") return name;
  if (name.empty()) return dir;
  if (dir.back() == pathSeparator) return dir + name;
  return dir + pathSeparator + name;
}

const Version& version() {
  static const Version parsed = parseVersion(detail::versionText);
  return parsed;
}

std::string showVersion(const Version& v) {
  std::string text;
  for (std::size_t i = 0; i < v.versionBranch.size(); ++i) {
    if (i > 0) text += '.';
    text += std::to_string(v.versionBranch[i]);
  }
  for (const std::string& tag : v.versionTags) text += "-" + tag;
  return text;
}

}  // namespace tallowmere
