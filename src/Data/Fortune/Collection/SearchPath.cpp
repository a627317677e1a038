#include <tallowmere/Data/Fortune/SearchPath.hpp>

#include <algorithm>
#include <optional>
#include <ostream>
#include <string_view>
#include <utility>

#include <tallowmere/Paths_tallowmere.hpp>
#include <tallowmere/Platform/Env.hpp>
#include "Data/Fortune/Collection/Gather.hpp"
#include "Platform/Environment.hpp"

namespace tallowmere {
namespace {

constexpr std::string_view generalVariable = "TALLOWMERE_PATH";

std::string perTypeVariable(FortuneType type) {
  std::string name = std::string(generalVariable) + "_" + show(type);
  std::transform(name.begin(), name.end(), name.begin(), [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  });
  return name;
}

// The first occurrence of `name` in an environment snapshot.
std::optional<std::string> find(const std::vector<std::pair<std::string, std::string>>& environment,
                                std::string_view name) {
  for (const auto& [key, value] : environment) {
    if (key == name) return value;
  }
  return std::nullopt;
}

// Elements at ':': "" has none, "a:" is just "a", ":a" and "a::b" keep their empty elements.
std::vector<std::string> splitElements(std::string_view value) {
  std::vector<std::string> elements;
  while (!value.empty()) {
    const std::size_t colon = value.find(':');
    elements.emplace_back(value.substr(0, colon));
    if (colon == std::string_view::npos) break;
    value.remove_prefix(colon + 1);
  }
  return elements;
}

SearchPathEntry toEntry(const std::string& element) {
  if (!element.empty() && element.front() == '+') return {element.substr(1), true};
  if (!element.empty() && element.front() == '-') return {element.substr(1), false};
  return {element, false};
}

SearchPath existingOnly(SearchPath path) {
  std::erase_if(path, [](const SearchPathEntry& entry) {
    return !Env::disk().status(entry.directory).isDirectory();
  });
  return path;
}

}  // namespace

std::string show(const SearchPathEntry& entry, int precedence) {
  std::string quoted = "\"";
  for (const char c : entry.directory) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  std::string text = "SearchPathEntry {directory = " + quoted +
                     ", recursive = " + (entry.recursive ? "True" : "False") + "}";
  return precedence > 10 ? "(" + text + ")" : text;
}

std::ostream& operator<<(std::ostream& out, const SearchPathEntry& entry) {
  return out << show(entry);
}

std::string joinPath(const std::string& a, const std::string& b) {
  if (!b.empty() && b.front() == '/') return b;
  if (a.empty()) return b;
  if (b.empty()) return a;
  if (a.back() == '/') return a + b;
  return a + "/" + b;
}

std::string detail::kindDirBelow(const std::string& dataDir, FortuneType kind) {
  std::string data = joinPath(dataDir, "data");
  switch (kind) {
    case FortuneType::All:
      return data;
    case FortuneType::Normal:
      return joinPath(data, "normal");
    case FortuneType::Offensive:
      return joinPath(data, "offensive");
  }
  return data;
}

std::string getFortuneDir(FortuneType type) { return detail::kindDirBelow(getDataDir(), type); }

SearchPath defaultFortuneSearchPath(FortuneType type) { return {{getFortuneDir(type), true}}; }

SearchPath getFortuneSearchPath(FortuneType type) {
  const auto environment = getEnvironment();
  std::optional<std::string> value = find(environment, perTypeVariable(type));
  if (!value) value = find(environment, generalVariable);
  if (!value) return existingOnly(defaultFortuneSearchPath(type));

  SearchPath path;
  for (const std::string& element : splitElements(*value)) path.push_back(toEntry(element));
  return existingOnly(std::move(path));
}

}  // namespace tallowmere
