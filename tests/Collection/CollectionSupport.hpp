// Helpers for the collection tests: a scoped change of environment variables and fortune
// files written in the text format.
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/TempDir.hpp"

namespace tallowmere::test {

// Sets and unsets variables, and puts back every touched variable as it was when the object
// goes away. Tests that run randomFortune or read search paths use one so that the machine's
// own settings never leak in.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }

  void set(const std::string& name, const std::string& value) {
    remember(name);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  void unset(const std::string& name) {
    remember(name);
    ::unsetenv(name.c_str());
  }

  // No search-path variable, the data directory at `dataDir`, no classic collection and no
  // locale.
  void isolate(const std::string& dataDir) {
    for (const char* name : {"TALLOWMERE_PATH", "TALLOWMERE_PATH_ALL", "TALLOWMERE_PATH_NORMAL",
                             "TALLOWMERE_PATH_OFFENSIVE"}) {
      unset(name);
    }
    // Nor a language: the locale would choose its collection.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE", "LANG"}) unset(name);
    set("tallowmere_datadir", dataDir);
    set("tallowmere_classicdir", dataDir + "/no-classic-collection");
  }

 private:
  void remember(const std::string& name) {
    if (saved_.count(name) != 0) return;
    const char* value = std::getenv(name.c_str());
    saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
  }

  std::map<std::string, std::optional<std::string>> saved_;
};

// The text of a fortune file holding `fortunes`, with '%' delimiter lines.
inline std::string fortuneText(const std::vector<std::string>& fortunes) {
  std::string text;
  for (std::size_t i = 0; i < fortunes.size(); ++i) {
    if (i > 0) text += "\n%\n";
    text += fortunes[i];
  }
  return fortunes.empty() ? text : text + "\n";
}

// Writes a fortune file (without an index file) into `dir`; returns its path.
inline std::string writeFortunes(const TempDir& dir, const std::string& name,
                                 const std::vector<std::string>& fortunes) {
  return dir.writeFile(name, fortuneText(fortunes));
}

}  // namespace tallowmere::test
