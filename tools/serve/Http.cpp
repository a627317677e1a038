#include "Http.hpp"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <thread>

#include "../CommandLine.hpp"
#include "../Json.hpp"

namespace tallowmere::cli::serve {

struct HttpServer::State {
  HttpLimits limits;
  AccessLog log = AccessLog::Off;
  HttpHandler handler;
  MHD_Daemon* daemon = nullptr;
  int listening = -1;
  // Requests whose head has been read and whose answer is not yet sent.
  std::atomic<long> inFlight{0};
};

namespace {

MHD_Connection* asConnection(void* connection) { return static_cast<MHD_Connection*>(connection); }

// A marker for a request that has been counted in flight.
char counted;

// Sums the names and values of the header fields, and counts them.
struct HeaderTally {
  std::size_t fields = 0;
  std::size_t bytes = 0;
};

MHD_Result tallyHeader(void* cls, MHD_ValueKind, const char* name, const char* value) {
  auto* tally = static_cast<HeaderTally*>(cls);
  ++tally->fields;
  tally->bytes += std::strlen(name) + (value != nullptr ? std::strlen(value) : 0);
  return MHD_YES;
}

// The request target's length: the path (as decoded, which is no longer than it was) and the
// query arguments.
MHD_Result tallyArgument(void* cls, MHD_ValueKind, const char* name, const char* value) {
  *static_cast<std::size_t*>(cls) +=
      std::strlen(name) + 2 + (value != nullptr ? std::strlen(value) : 0);
  return MHD_YES;
}

bool hasBody(MHD_Connection* connection) {
  const char* length =
      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
  if (length != nullptr && std::strcmp(length, "0") != 0) return true;
  return MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                     MHD_HTTP_HEADER_TRANSFER_ENCODING) != nullptr;
}

// A refusal of what the server enforces itself, or nothing when the request may go on.
std::optional<HttpResponse> refusal(MHD_Connection* connection, const HttpLimits& limits,
                                    std::string_view method, std::string_view path) {
  if (method != "GET" && method != "HEAD") {
    return errorResponse(405, "method not allowed: only GET and HEAD are")
        .with("Allow", "GET, HEAD");
  }
  std::size_t target = path.size();
  MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, tallyArgument, &target);
  if (target > limits.maxTargetBytes) {
    return errorResponse(
        414, "request target longer than " + std::to_string(limits.maxTargetBytes) + " bytes");
  }
  HeaderTally tally;
  MHD_get_connection_values(connection, MHD_HEADER_KIND, tallyHeader, &tally);
  if (tally.fields > limits.maxHeaderFields) {
    return errorResponse(431,
                         "more than " + std::to_string(limits.maxHeaderFields) + " header fields");
  }
  if (tally.bytes > limits.maxHeaderBytes) {
    return errorResponse(
        431, "header fields longer than " + std::to_string(limits.maxHeaderBytes) + " bytes");
  }
  if (hasBody(connection)) return errorResponse(413, "a request body is not accepted here");
  return std::nullopt;
}

std::string clientAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr || info->client_addr == nullptr) return "-";
  char host[INET6_ADDRSTRLEN] = "-";
  const sockaddr* address = info->client_addr;
  if (address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, host, sizeof host);
  } else if (address->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, host,
              sizeof host);
  }
  return host;
}

// 127.0.0.1 - - [10/Dec/2026:23:50:00 +0000] "GET /fortune HTTP/1.1" 200 57 0.000123
void logRequest(MHD_Connection* connection, std::string_view method, const char* url,
                const char* version, int status, std::size_t bytes,
                std::chrono::steady_clock::duration took) {
  char when[64];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(when, sizeof when, "%d/%b/%Y:%H:%M:%S %z", &local);
  std::string line = clientAddress(connection) + " - - [" + when + "] \"";
  line.append(method);
  line += ' ';
  // The target as received is not at hand once decoded; the decoded path stands for it, with
  // control characters shown as '?' so that a client cannot forge log lines.
  for (const char* c = url; *c != '\0'; ++c) {
    line += static_cast<unsigned char>(*c) < 0x20 || *c == '"' || *c == 0x7f ? '?' : *c;
  }
  char tail[96];
  std::snprintf(tail, sizeof tail, " %s\" %d %zu %.6f\n", version, status, bytes,
                std::chrono::duration<double>(took).count());
  line += tail;
  // One write, so that lines of different threads never mix; a lost log line is no reason to
  // fail a request.
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
}

MHD_Result send(MHD_Connection* connection, const HttpResponse& answer, bool close) {
  MHD_Response* response = MHD_create_response_from_buffer(
      answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  for (const auto& [name, value] : answer.headers) {
    MHD_add_response_header(response, name.c_str(), value.c_str());
  }
  if (close) MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  const MHD_Result queued =
      MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char* version, const char*, size_t* uploadSize, void** requestState) {
  auto* state = static_cast<HttpServer::State*>(cls);
  if (*requestState == nullptr) {
    // The head is read. A refusal goes out at once, and the connection closes after it (the
    // client may still be sending what was refused); an answer waits for the next call, the
    // point at which libmicrohttpd keeps the connection open for the next request.
    *requestState = &counted;
    state->inFlight.fetch_add(1, std::memory_order_relaxed);
    std::optional<HttpResponse> refused = refusal(connection, state->limits, method, url);
    if (!refused) return MHD_YES;
    const MHD_Result queued = send(connection, *refused, true);
    if (state->log == AccessLog::StandardError) {
      logRequest(connection, method, url, version, refused->status, refused->body.size(), {});
    }
    return queued;
  }
  if (*uploadSize != 0) {
    // Part of a body that came after the refusal: dropped.
    *uploadSize = 0;
    return MHD_YES;
  }
  const auto start = std::chrono::steady_clock::now();
  HttpResponse response;
  try {
    response = state->handler(HttpRequest(connection, method, url));
  } catch (const std::bad_alloc&) {
    response = errorResponse(503, "out of memory");
  } catch (const std::exception& failure) {
    // What went wrong is for the operator, on standard error; the client learns only that
    // something did.
    const std::string line = std::string("tallowmere serve: ") + failure.what() + '\n';
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    response = errorResponse(500, "internal error");
  }
  const MHD_Result queued = send(connection, response, false);
  if (state->log == AccessLog::StandardError) {
    logRequest(connection, method, url, version, response.status,
               std::string_view(method) == "HEAD" ? 0 : response.body.size(),
               std::chrono::steady_clock::now() - start);
  }
  return queued;
}

void completed(void* cls, MHD_Connection*, void** requestState, MHD_RequestTerminationCode) {
  if (*requestState != &counted) return;
  static_cast<HttpServer::State*>(cls)->inFlight.fetch_sub(1, std::memory_order_relaxed);
  *requestState = nullptr;
}

// libmicrohttpd reports its own trouble (a failed accept, say) here, and nowhere by default.
void ignoreLibraryMessage(void*, const char*, va_list) {}

}  // namespace

std::optional<std::string_view> HttpRequest::header(const char* name) const {
  const char* value = MHD_lookup_connection_value(asConnection(connection_), MHD_HEADER_KIND, name);
  if (value == nullptr) return std::nullopt;
  return std::string_view(value);
}

std::optional<std::string_view> HttpRequest::query(const char* name) const {
  const char* value =
      MHD_lookup_connection_value(asConnection(connection_), MHD_GET_ARGUMENT_KIND, name);
  if (value == nullptr) {
    // "?short" carries no value but is there.
    if (MHD_lookup_connection_value_n(asConnection(connection_), MHD_GET_ARGUMENT_KIND, name,
                                      std::strlen(name), nullptr, nullptr) == MHD_YES) {
      return std::string_view();
    }
    return std::nullopt;
  }
  return std::string_view(value);
}

HttpResponse errorResponse(int status, std::string_view message) {
  JsonWriter json;
  json.beginObject().member("error", message).member("status", status).endObject();
  HttpResponse response;
  response.status = status;
  response.contentType = "application/json";
  response.body = json.take();
  response.body += '\n';
  response.with("Cache-Control", "no-store");
  return response;
}

HttpServer::HttpServer(int listening, const HttpLimits& limits, AccessLog log, HttpHandler handler)
    : state_(std::make_unique<State>()) {
  state_->limits = limits;
  state_->log = log;
  state_->handler = std::move(handler);
  state_->listening = listening;
  const unsigned threads =
      limits.threads != 0 ? limits.threads : std::max(1U, std::thread::hardware_concurrency());
  state_->daemon = MHD_start_daemon(
      MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ITC | MHD_USE_TURBO, 0, nullptr, nullptr, answer,
      state_.get(), MHD_OPTION_LISTEN_SOCKET, listening, MHD_OPTION_THREAD_POOL_SIZE, threads,
      MHD_OPTION_CONNECTION_LIMIT, limits.maxConnections, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      limits.connectionMemory, MHD_OPTION_CONNECTION_TIMEOUT,
      static_cast<unsigned>(limits.idleTimeout.count()), MHD_OPTION_NOTIFY_COMPLETED, completed,
      state_.get(), MHD_OPTION_EXTERNAL_LOGGER, ignoreLibraryMessage, nullptr, MHD_OPTION_END);
  if (state_->daemon == nullptr) throw std::runtime_error("cannot start the HTTP server");
}

HttpServer::~HttpServer() { stop(std::chrono::milliseconds(0)); }

void HttpServer::stop(std::chrono::milliseconds grace) {
  if (state_->daemon == nullptr) return;
  const int listening = MHD_quiesce_daemon(state_->daemon);
  if (listening >= 0) ::close(listening);
  const auto until = std::chrono::steady_clock::now() + grace;
  while (state_->inFlight.load(std::memory_order_relaxed) > 0 &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  MHD_stop_daemon(state_->daemon);
  state_->daemon = nullptr;
}

ListeningSocket listenOn(const std::string& hostAndPort) {
  const std::size_t colon = hostAndPort.rfind(':');
  if (colon == std::string::npos || colon + 1 == hostAndPort.size()) {
    throw BadUsage("--listen wants HOST:PORT, not '" + hostAndPort + "'");
  }
  std::string host = hostAndPort.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  const std::uint64_t port = parseUInt64(hostAndPort.substr(colon + 1), "--listen's port");
  if (port > 65535) throw BadUsage("port out of range: " + std::to_string(port));
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int failed =
          getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found)) {
    throw BadUsage("cannot listen on '" + hostAndPort + "': " + gai_strerror(failed));
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
  int error = 0;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      error = errno;
      continue;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 1024) == 0) {
      sockaddr_storage bound{};
      socklen_t length = sizeof bound;
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
      char name[NI_MAXHOST];
      char boundPort[NI_MAXSERV];
      getnameinfo(reinterpret_cast<sockaddr*>(&bound), length, name, sizeof name, boundPort,
                  sizeof boundPort, NI_NUMERICHOST | NI_NUMERICSERV);
      std::string address = name;
      if (bound.ss_family == AF_INET6) address.insert(0, 1, '[').push_back(']');
      address += ':';
      address += boundPort;
      return {fd, address};
    }
    error = errno;
    ::close(fd);
  }
  throw std::runtime_error("cannot listen on " + hostAndPort + ": " + std::strerror(error));
}

}  // namespace tallowmere::cli::serve
