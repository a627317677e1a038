// What `tallowmere serve` answers: the endpoints over one collection, each a function from a
// request to a response. Files are reached only by the names the site gives the collection's
// own files (their paths below the directory that holds them all); any other name is unknown
// before the file system is touched.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <unordered_map>
#include <vector>

#include <tallowmere/Data/Fortune/Collection.hpp>
#include "Http.hpp"

namespace tallowmere::cli::serve {

struct SiteLimits {
  std::size_t maxPatternBytes = 256;           // /search's q
  std::int64_t maxResultsPerPage = 100;        // /search's limit
  std::chrono::milliseconds searchTime{2000};  // the longest one search may run
};

class Site {
 public:
  // Serves `collection`; `defaults` are the filter of requests that do not set their own.
  Site(Collection collection, FortuneFilter defaults, SiteLimits limits = {});

  [[nodiscard]] HttpResponse handle(const HttpRequest& request) const;

  // Ends every search still running by `when` (answered with 503), so that the server stops
  // in time whatever a search's own limit.
  void endSearchesBy(std::chrono::steady_clock::time_point when) noexcept;

  // The name of each file, in the collection's order.
  [[nodiscard]] const std::vector<std::string>& names() const noexcept { return names_; }

 private:
  enum class Format { Text, Json, Html };
  struct Fortune;

  [[nodiscard]] HttpResponse randomFortune(const HttpRequest& request, Format format) const;
  [[nodiscard]] HttpResponse today(const HttpRequest& request, Format format) const;
  [[nodiscard]] HttpResponse permalink(const HttpRequest& request, std::string_view rest) const;
  [[nodiscard]] HttpResponse search(const HttpRequest& request) const;
  [[nodiscard]] HttpResponse files(const HttpRequest& request) const;
  [[nodiscard]] HttpResponse render(const DrawnFortune& drawn, Format format) const;
  [[nodiscard]] FortuneFilter filterOf(const HttpRequest& request) const;
  [[nodiscard]] const std::string& nameOf(const std::string& path) const;

  Collection collection_;
  FortuneFilter defaults_;
  SiteLimits limits_;
  std::vector<std::string> names_;
  std::unordered_map<std::string, std::string> pathOfName_;
  std::unordered_map<std::string, std::string> nameOfPath_;
  std::atomic<std::chrono::steady_clock::rep> searchesEndBy_{
      std::chrono::steady_clock::time_point::max().time_since_epoch().count()};
};

// The names of files for links: each path relative to the deepest directory that holds them
// all ("art", "off/art"); a single file is known by its own name.
[[nodiscard]] std::vector<std::string> namesOf(const std::vector<std::string>& paths);

}  // namespace tallowmere::cli::serve
