// The HTTP side of `tallowmere serve`, over libmicrohttpd: a bounded pool of threads, each
// polling many connections with epoll, so that idle and slow clients cost a little memory and
// no thread. Requests are answered as soon as their head is read; a request with a body is
// refused. What this layer enforces before any handler runs: the methods (GET and HEAD), the
// length of the request target, the number and size of the header fields. libmicrohttpd itself
// bounds each connection's memory (a head beyond it is refused with 431 or 414), the number of
// connections and their idle time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tallowmere::cli::serve {

struct HttpLimits {
  std::size_t maxTargetBytes = 4096;     // the path and query of a request
  std::size_t maxHeaderFields = 64;      // header fields of a request
  std::size_t maxHeaderBytes = 8192;     // their names and values together
  std::size_t connectionMemory = 16384;  // what libmicrohttpd may use per connection
  unsigned maxConnections = 4096;        // open connections at once; more are refused
  unsigned threads = 0;                  // polling threads; 0: one per processor
  std::chrono::seconds idleTimeout{15};  // a connection silent this long is closed
};

// One request, valid while its handler runs.
class HttpRequest {
 public:
  HttpRequest(void* connection, std::string_view method, std::string_view path)
      : connection_(connection), method_(method), path_(path) {}
  [[nodiscard]] std::string_view method() const noexcept { return method_; }
  // The path, percent-escapes decoded, without the query.
  [[nodiscard]] std::string_view path() const noexcept { return path_; }
  // A header field (case-insensitive name), or a query argument (decoded), if present.
  [[nodiscard]] std::optional<std::string_view> header(const char* name) const;
  [[nodiscard]] std::optional<std::string_view> query(const char* name) const;

 private:
  void* connection_;
  std::string_view method_;
  std::string_view path_;
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;

  HttpResponse& with(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
  }
};

// {"error": message, "status": status}: the body of every refusal.
[[nodiscard]] HttpResponse errorResponse(int status, std::string_view message);

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

// Where to log each request, if anywhere: one line in the common log format with the time the
// answer took, written to standard error in one call.
enum class AccessLog { Off, StandardError };

class HttpServer {
 public:
  // Serves on `listening`, a bound, listening socket that the server takes over. Throws a
  // std::runtime_error when libmicrohttpd cannot start.
  HttpServer(int listening, const HttpLimits& limits, AccessLog log, HttpHandler handler);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Stops taking connections, lets the requests in flight finish for at most `grace`, then
  // closes every connection. Idempotent; the destructor does it with no grace.
  void stop(std::chrono::milliseconds grace);

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// A listening TCP socket on "HOST:PORT" ("[::1]:8080" for IPv6; port 0 for any free one), with
// the address it got as "HOST:PORT". Throws BadUsage for a malformed address, a
// std::runtime_error naming it when it cannot be bound.
struct ListeningSocket {
  int fd = -1;
  std::string address;
};
[[nodiscard]] ListeningSocket listenOn(const std::string& hostAndPort);

}  // namespace tallowmere::cli::serve
