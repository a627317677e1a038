#include "Page.hpp"

#include <cstdio>

namespace tallowmere::cli::serve {

namespace {

constexpr std::string_view head = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>)";

// Readable from a narrow phone to a wide desktop: one column of at most about 70 characters,
// the fortune's own line breaks kept and long lines wrapped.
constexpr std::string_view style = R"(</title>
<style>
body { font-family: system-ui, sans-serif; margin: 0 auto; max-width: 46rem; padding: 1rem;
       line-height: 1.5; color: #222; background: #fdfcf8; }
pre { white-space: pre-wrap; overflow-wrap: anywhere; font-size: 1.1rem; background: #fff;
      border: 1px solid #ddd; border-radius: .4rem; padding: 1rem; }
nav a, form button { margin-right: 1rem; }
.source { color: #666; font-size: .9rem; }
input[type=search] { width: min(100%, 20rem); font-size: 1rem; }
@media (prefers-color-scheme: dark) {
  body { color: #ddd; background: #1b1b1b; } pre { background: #222; border-color: #444; }
  a { color: #8ab4f8; } .source { color: #aaa; } }
</style>
</head>
<body>
)";

constexpr std::string_view searchForm = R"(<form action="/search" method="get" role="search">
<input type="search" name="q" placeholder="regular expression" aria-label="Search">
<label><input type="checkbox" name="i" value="1"> ignore case</label>
<button type="submit">Search</button>
</form>
)";

void appendFortune(std::string& out, const PageFortune& fortune) {
  out += "<article>\n<pre class=\"fortune\">";
  appendHtmlEscaped(out, fortune.text);
  out += "</pre>\n<p class=\"source\"><a class=\"permalink\" href=\"";
  appendHtmlEscaped(out, permalinkOf(fortune.file, fortune.number));
  out += "\">";
  appendHtmlEscaped(out, fortune.file);
  out += " #" + std::to_string(fortune.number) + "</a></p>\n</article>\n";
}

}  // namespace

void appendHtmlEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
}

std::string percentEncode(std::string_view text, std::string_view keep) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                       c == '~' || keep.find(c) != std::string_view::npos;
    if (plain) {
      out += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      out += escaped;
    }
  }
  return out;
}

std::string permalinkOf(std::string_view file, std::int64_t number) {
  return "/fortunes/" + percentEncode(file, "/") + "/" + std::to_string(number);
}

std::string fortunePage(const PageFortune& fortune, std::string_view anotherHref) {
  std::string out(head);
  out += "A fortune from ";
  appendHtmlEscaped(out, fortune.file);
  out += style;
  appendFortune(out, fortune);
  out += "<nav><a id=\"another\" href=\"";
  appendHtmlEscaped(out, anotherHref);
  out += "\">Another one</a><a href=\"/today\">Today's</a></nav>\n";
  out += searchForm;
  out += "</body>\n</html>\n";
  return out;
}

std::string searchPage(std::string_view query, bool ignoreCase,
                       const std::vector<PageFortune>& matches,
                       const std::optional<std::string>& nextHref) {
  std::string out(head);
  out += "Fortunes matching ";
  appendHtmlEscaped(out, query);
  out += style;
  out += "<h1>Fortunes matching <code>";
  appendHtmlEscaped(out, query);
  out += "</code>";
  if (ignoreCase) out += " in any case";
  out += "</h1>\n";
  if (matches.empty()) out += "<p>None.</p>\n";
  for (const PageFortune& match : matches) appendFortune(out, match);
  out += "<nav><a id=\"another\" href=\"/\">A random one</a>";
  if (nextHref) {
    out += "<a id=\"next\" href=\"";
    appendHtmlEscaped(out, *nextHref);
    out += "\">More</a>";
  }
  out += "</nav>\n";
  out += searchForm;
  out += "</body>\n</html>\n";
  return out;
}

}  // namespace tallowmere::cli::serve
