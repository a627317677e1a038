// The HTML of `tallowmere serve`: whole pages without scripts, one small style sheet that reads
// on a phone and on a desktop, every text from a file escaped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowmere::cli::serve {

// A fortune as a page shows it.
struct PageFortune {
  std::string file;  // its file's name in links
  std::int64_t number = 0;
  std::string text;
};

// The page of one fortune, with links to another one (`anotherHref`) and to its permalink, and
// the search form.
[[nodiscard]] std::string fortunePage(const PageFortune& fortune, std::string_view anotherHref);

// The page of a search's matches, with a link to the next page if there is one.
[[nodiscard]] std::string searchPage(std::string_view query, bool ignoreCase,
                                     const std::vector<PageFortune>& matches,
                                     const std::optional<std::string>& nextHref);

// The path of a fortune's permalink: "/fortunes/NAME/N", the name percent-encoded.
[[nodiscard]] std::string permalinkOf(std::string_view file, std::int64_t number);

// `text` with &, <, >, " and ' written as character references.
void appendHtmlEscaped(std::string& out, std::string_view text);

// `text` percent-encoded for a path (every byte but letters, digits, "-._~" and `keep`) or a
// query value.
[[nodiscard]] std::string percentEncode(std::string_view text, std::string_view keep = "");

}  // namespace tallowmere::cli::serve
