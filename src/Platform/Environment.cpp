#include "Platform/Environment.hpp"

#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace tallowmere {

std::optional<std::string> lookupEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::vector<std::pair<std::string, std::string>> getEnvironment() {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const char* text = *entry;
    const char* equals = std::strchr(text, '=');
    if (equals == nullptr) {
      pairs.emplace_back(text, std::string());
    } else {
      pairs.emplace_back(std::string(text, equals), std::string(equals + 1));
    }
  }
  return pairs;
}

}  // namespace tallowmere
