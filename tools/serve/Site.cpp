#include "Site.hpp"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>

#include <tallowmere/Data/Fortune/Pattern.hpp>
#include "../CommandLine.hpp"
#include "../Json.hpp"
#include "../Today.hpp"
#include "Page.hpp"

namespace tallowmere::cli::serve {

namespace {

bool mentions(const std::optional<std::string_view>& header, std::string_view what) {
  return header && header->find(what) != std::string_view::npos;
}

bool wantsJson(const HttpRequest& request) {
  return mentions(request.header("Accept"), "application/json");
}

// "?short", "?short=1", "?short=yes": set; "?short=0", "?short=false" or none: not.
bool flag(const HttpRequest& request, const char* name) {
  const std::optional<std::string_view> value = request.query(name);
  return value && *value != "0" && *value != "false" && *value != "no";
}

// A strong validator of one representation: FNV-1a over what it is made of.
std::string entityTag(std::string_view kind, std::string_view body) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const std::string_view part : {kind, std::string_view("\n", 1), body}) {
    for (const char c : part) {
      hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
  }
  char tag[24];
  std::snprintf(tag, sizeof tag, "\"%016llx\"", static_cast<unsigned long long>(hash));
  return tag;
}

// The response, or 304 when the client holds it already.
HttpResponse validated(const HttpRequest& request, HttpResponse response) {
  const std::string tag = entityTag(response.contentType, response.body);
  if (const std::optional<std::string_view> held = request.header("If-None-Match");
      held && (held->find(tag) != std::string_view::npos || *held == "*")) {
    response.status = 304;
    response.body.clear();
  }
  response.with("ETag", tag);
  return response;
}

std::string httpDate(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
  return text;
}

// The next local midnight after `now`, when the day's fortune changes.
std::time_t nextLocalMidnight(std::time_t now) {
  std::tm midnight{};
  localtime_r(&now, &midnight);
  midnight.tm_hour = 0;
  midnight.tm_min = 0;
  midnight.tm_sec = 0;
  midnight.tm_isdst = -1;
  ++midnight.tm_mday;
  return std::mktime(&midnight);
}

int statusOf(const IOError& error) {
  switch (error.reason()) {
    case ErrorReason::NotFound:
    case ErrorReason::OutOfRange:
    case ErrorReason::NothingToDraw:
      return 404;
    case ErrorReason::BadPattern:
    case ErrorReason::BadArgument:
      return 400;
    case ErrorReason::TooManyOpenFiles:
      return 503;
    default:
      return 500;
  }
}

// "12" as a fortune number; nothing for anything else ("-1", "+1", "1e3", "").
std::optional<std::int64_t> fortuneNumber(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::int64_t number = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  return number;
}

std::string withNewline(std::string text) {
  text += '\n';
  return text;
}

}  // namespace

std::vector<std::string> namesOf(const std::vector<std::string>& paths) {
  namespace fs = std::filesystem;
  std::vector<fs::path> absolute;
  absolute.reserve(paths.size());
  for (const std::string& path : paths) absolute.push_back(fs::absolute(path).lexically_normal());
  if (absolute.empty()) return {};
  // The directory that holds them all: the longest run of leading components that every
  // file's directory shares.
  fs::path common = absolute.front().parent_path();
  for (const fs::path& path : absolute) {
    const fs::path directory = path.parent_path();
    fs::path shared;
    for (auto a = common.begin(), b = directory.begin();
         a != common.end() && b != directory.end() && *a == *b; ++a, ++b) {
      shared /= *a;
    }
    common = shared;
  }
  std::vector<std::string> names;
  names.reserve(absolute.size());
  for (const fs::path& path : absolute) names.push_back(path.lexically_relative(common).string());
  return names;
}

Site::Site(Collection collection, FortuneFilter defaults, DayIdentity identity, SiteLimits limits)
    : collection_(std::move(collection)),
      defaults_(defaults),
      identity_(std::move(identity)),
      limits_(limits) {
  std::vector<std::string> paths;
  for (const CollectionFile& file : collection_.files()) paths.push_back(file.path);
  names_ = namesOf(paths);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    pathOfName_.emplace(names_[i], paths[i]);
    nameOfPath_.emplace(paths[i], names_[i]);
  }
}

void Site::endSearchesBy(std::chrono::steady_clock::time_point when) noexcept {
  searchesEndBy_.store(when.time_since_epoch().count(), std::memory_order_relaxed);
}

const std::string& Site::nameOf(const std::string& path) const {
  const auto found = nameOfPath_.find(path);
  return found != nameOfPath_.end() ? found->second : path;
}

FortuneFilter Site::filterOf(const HttpRequest& request) const {
  FortuneFilter filter = defaults_;
  if (flag(request, "short")) filter.length = LengthFilter::Short;
  if (flag(request, "long")) filter.length = LengthFilter::Long;
  if (flag(request, "equal")) filter.weighting = Weighting::ByFile;
  if (const std::optional<std::string_view> n = request.query("n")) {
    filter.lengthLimit = parseInt64(*n, "n");
    if (filter.lengthLimit < 0) throw BadUsage("n must not be negative");
  }
  return filter;
}

HttpResponse Site::render(const DrawnFortune& drawn, Format format) const {
  const std::string& name = nameOf(drawn.path);
  HttpResponse response;
  switch (format) {
    case Format::Text:
      response.body = withNewline(drawn.text);
      break;
    case Format::Json: {
      JsonWriter json;
      writeFortune(json, name, drawn.number, drawn.text);
      response.body = withNewline(json.take());
      response.contentType = "application/json";
      break;
    }
    case Format::Html:
      response.body = fortunePage({name, drawn.number, drawn.text}, "/");
      response.contentType = "text/html; charset=utf-8";
      break;
  }
  return response;
}

HttpResponse Site::randomFortune(const HttpRequest& request, Format format) const {
  const FortuneFilter filter = filterOf(request);
  DrawnFortune drawn;
  if (const std::optional<std::string_view> seed = request.query("seed")) {
    SplitMix64 generator(parseUInt64(*seed, "seed"));
    drawn = collection_.draw(filter, generator);
  } else {
    drawn = collection_.draw(filter);
  }
  HttpResponse response = render(drawn, format);
  response.with("Cache-Control", "no-store");
  if (format != Format::Html) response.with("Vary", "Accept");
  return response;
}

HttpResponse Site::today(const HttpRequest& request, Format format) const {
  const std::time_t now = std::time(nullptr);
  const std::time_t midnight = nextLocalMidnight(now);
  const FortuneFilter filter = filterOf(request);
  SplitMix64 generator = dayGenerator(cli::today(), identity_(filter));
  HttpResponse response = render(collection_.draw(filter, generator), format);
  const std::time_t left = std::max<std::time_t>(0, midnight - now);
  response.with("Cache-Control", "public, max-age=" + std::to_string(left))
      .with("Expires", httpDate(midnight))
      .with("Vary", "Accept");
  return validated(request, std::move(response));
}

HttpResponse Site::permalink(const HttpRequest& request, std::string_view rest) const {
  Format format = mentions(request.header("Accept"), "text/html") ? Format::Html
                  : wantsJson(request)                            ? Format::Json
                                                                  : Format::Text;
  for (const auto& [suffix, chosen] : {std::pair{std::string_view(".json"), Format::Json},
                                       std::pair{std::string_view(".txt"), Format::Text},
                                       std::pair{std::string_view(".html"), Format::Html}}) {
    if (rest.ends_with(suffix)) {
      rest.remove_suffix(suffix.size());
      format = chosen;
      break;
    }
  }
  const std::size_t slash = rest.rfind('/');
  const std::optional<std::int64_t> number =
      slash == std::string_view::npos ? std::nullopt : fortuneNumber(rest.substr(slash + 1));
  if (!number) return errorResponse(404, "not a fortune: want /fortunes/FILE/NUMBER");
  const auto file = pathOfName_.find(std::string(rest.substr(0, slash)));
  if (file == pathOfName_.end()) {
    return errorResponse(
        404, "no file of this collection is named '" + std::string(rest.substr(0, slash)) + "'");
  }
  HttpResponse response = render(collection_.read(file->second, *number), format);
  response.with("Cache-Control", "public, max-age=300").with("Vary", "Accept");
  return validated(request, std::move(response));
}

HttpResponse Site::search(const HttpRequest& request) const {
  const std::optional<std::string_view> query = request.query("q");
  if (!query || query->empty()) return errorResponse(400, "search wants a pattern: ?q=REGEX");
  if (query->size() > limits_.maxPatternBytes) {
    return errorResponse(
        400, "pattern longer than " + std::to_string(limits_.maxPatternBytes) + " bytes");
  }
  std::int64_t limit = 10;
  if (const std::optional<std::string_view> given = request.query("limit")) {
    limit = parseInt64(*given, "limit");
  }
  if (limit < 1 || limit > limits_.maxResultsPerPage) {
    return errorResponse(400,
                         "limit must be from 1 to " + std::to_string(limits_.maxResultsPerPage));
  }
  std::int64_t after = 0;
  if (const std::optional<std::string_view> given = request.query("after")) {
    after = parseInt64(*given, "after");
    if (after < 0) return errorResponse(400, "after must not be negative");
  }
  const bool ignoreCase = flag(request, "i");
  const Pattern pattern(*query, {ignoreCase ? CaseMode::Insensitive : CaseMode::Sensitive});

  // Matches are counted from 0 in the collection's order; the page holds those after the
  // first `after`. The clock is read at every fortune, so that no pattern and no size of
  // collection holds a worker past the limit.
  const auto ownDeadline = std::chrono::steady_clock::now() + limits_.searchTime;
  std::vector<PageFortune> page;
  std::int64_t seen = 0;
  bool more = false;
  bool late = false;
  collection_.visit(
      [&](const VisitedFortune& fortune) {
        const auto now = std::chrono::steady_clock::now();
        if (now > ownDeadline ||
            now.time_since_epoch().count() > searchesEndBy_.load(std::memory_order_relaxed)) {
          late = true;
          return Visit::Stop;
        }
        if (!pattern.matches(fortune.bytes)) return Visit::Continue;
        if (seen++ < after) return Visit::Continue;
        if (static_cast<std::int64_t>(page.size()) == limit) {
          more = true;
          return Visit::Stop;
        }
        page.push_back({nameOf(fortune.path), fortune.number, fortune.text()});
        return Visit::Continue;
      },
      filterOf(request));
  if (late) {
    return errorResponse(
               503, "search took longer than " + std::to_string(limits_.searchTime.count()) + " ms")
        .with("Retry-After", "1");
  }
  const std::int64_t next = after + limit;
  HttpResponse response;
  response.with("Cache-Control", "no-store").with("Vary", "Accept");
  if (mentions(request.header("Accept"), "text/html")) {
    std::optional<std::string> nextHref;
    if (more) {
      nextHref = "/search?q=" + percentEncode(*query) + (ignoreCase ? "&i=1" : "") +
                 "&limit=" + std::to_string(limit) + "&after=" + std::to_string(next);
    }
    response.body = searchPage(*query, ignoreCase, page, nextHref);
    response.contentType = "text/html; charset=utf-8";
    return response;
  }
  JsonWriter json;
  json.beginObject().member("query", *query).member("ignoreCase", ignoreCase);
  json.member("after", after).member("limit", limit).key("matches").beginArray();
  for (const PageFortune& match : page) writeFortune(json, match.file, match.number, match.text);
  json.endArray().key("next");
  if (more) {
    json.value(next);
  } else {
    json.null();
  }
  json.endObject();
  response.body = withNewline(json.take());
  response.contentType = "application/json";
  return response;
}

HttpResponse Site::files(const HttpRequest& request) const {
  JsonWriter json;
  json.beginArray();
  for (const FileShare& share : collection_.shares(filterOf(request))) {
    json.beginObject()
        .member("file", nameOf(share.path))
        .member("count", share.count)
        .member("share", share.percent)
        .endObject();
  }
  json.endArray();
  HttpResponse response;
  response.body = withNewline(json.take());
  response.contentType = "application/json";
  response.with("Cache-Control", "no-store");
  return response;
}

HttpResponse Site::handle(const HttpRequest& request) const {
  const std::string_view path = request.path();
  try {
    if (path == "/") return randomFortune(request, Format::Html);
    if (path == "/fortune") {
      return randomFortune(request, wantsJson(request) ? Format::Json : Format::Text);
    }
    if (path == "/fortune.json") return randomFortune(request, Format::Json);
    if (path == "/fortune.txt") return randomFortune(request, Format::Text);
    if (path == "/today") {
      return today(request, wantsJson(request)                                ? Format::Json
                            : mentions(request.header("Accept"), "text/html") ? Format::Html
                                                                              : Format::Text);
    }
    if (path == "/today.json") return today(request, Format::Json);
    if (path.starts_with("/fortunes/")) return permalink(request, path.substr(10));
    if (path == "/search") return search(request);
    if (path == "/files") return files(request);
    if (path == "/healthz") {
      HttpResponse response;
      response.body = "ok\n";
      return response.with("Cache-Control", "no-store");
    }
    return errorResponse(404, "no such page");
  } catch (const BadUsage& mistake) {
    return errorResponse(400, mistake.what());
  } catch (const IOError& failure) {
    const int status = statusOf(failure);
    if (status < 500) return errorResponse(status, failure.what());
    // A file that cannot be read is the operator's trouble, told on standard error; its path
    // is not the client's business.
    std::cerr << "tallowmere serve: " << failure.what() << '\n';
    return errorResponse(status, "cannot read a fortune file");
  }
}

}  // namespace tallowmere::cli::serve
