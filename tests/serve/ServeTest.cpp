// End-to-end tests of `tallowmere serve`: the built command serves a small collection on a free
// port, and the tests speak HTTP to it over plain sockets, the way a hostile client may.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/Command.hpp"
#include "support/TempDir.hpp"

namespace tallowmere::test {
namespace {

using ::testing::AnyOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using namespace std::chrono_literals;

struct Reply {
  int status = 0;  // 0: no reply (the connection failed or closed first)
  std::string head;
  std::string body;

  [[nodiscard]] std::optional<std::string> header(const std::string& name) const {
    const std::size_t at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos) return std::nullopt;
    const std::size_t from = at + name.size() + 4;
    return head.substr(from, head.find("\r\n", from) - from);
  }
};

// A client socket to 127.0.0.1:port, with a bound on each read; -1 when it cannot connect.
int connectTo(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  const timeval bound{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
  return fd;
}

void sendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
}

// Reads one reply: its head, then as many bytes as Content-Length says (none for HEAD).
Reply readReply(int fd, bool headOnly = false) {
  std::string data;
  char buffer[65536];
  Reply reply;
  for (;;) {
    const std::size_t end = data.find("\r\n\r\n");
    if (end != std::string::npos && reply.head.empty()) {
      reply.head = data.substr(0, end + 2);
      data.erase(0, end + 4);
      reply.status = std::stoi(reply.head.substr(9, 3));
    }
    if (!reply.head.empty()) {
      const std::size_t length =
          headOnly ? 0 : std::stoul(reply.header("Content-Length").value_or("0"));
      if (data.size() >= length) {
        reply.body = data.substr(0, length);
        return reply;
      }
    }
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return reply.head.empty() ? Reply{} : reply;
    data.append(buffer, static_cast<std::size_t>(got));
  }
}

class ServeTest : public ::testing::Test {
 protected:
  ServeTest() {
    std::filesystem::create_directories(dir.path("fortunes"));
    dir.writeFile("fortunes/markup",
                  "Beware of <script>alert(1)</script> & friends.\n%\n"
                  "A tag is only a tag: <b>bold</b>.\n");
    dir.writeFile("fortunes/plain",
                  "Short.\n%\nA second plain fortune, a little longer than "
                  "the first one is.\n%\nThe third and last.\n");
    dir.writeFile("secret", "Nothing outside the collection may be served.\n");
    std::filesystem::create_directory_symlink(dir.path(), dir.path("fortunes/link"));
  }
  ~ServeTest() override { stop(SIGKILL); }

  // Starts the server on a free port with `args` before the operands; waits for its address.
  void start(std::vector<std::string> args, std::vector<std::string> operands = {"fortunes"}) {
    std::vector<std::string> all{"serve", "--listen", "127.0.0.1:0"};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), operands.begin(), operands.end());
    command_.emplace(all, dir.path(), std::vector<std::string>{});
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    const int err =
        ::open(dir.path("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    child_ = command_->start(in, out[1], err);
    ::close(out[1]);
    ::close(err);
    ::close(in);
    ASSERT_GT(child_, 0);
    std::string line;
    pollfd ready{out[0], POLLIN, 0};
    char c = 0;
    while (line.find('\n') == std::string::npos && ::poll(&ready, 1, 10000) == 1 &&
           ::read(out[0], &c, 1) == 1) {
      line += c;
    }
    ::close(out[0]);
    ASSERT_THAT(line, StartsWith("http://127.0.0.1:")) << log();
    port_ = std::stoi(line.substr(17));
  }

  // The outcome of stopping the server with `signal`.
  CommandOutcome stop(int signal) {
    if (child_ <= 0) return {};
    ::kill(child_, signal);
    const CommandOutcome outcome = waitBounded(child_, 10s);
    child_ = -1;
    return outcome;
  }

  std::string log() const { return dir.readFile("stderr"); }

  // One request on a connection of its own.
  Reply exchange(const std::string& request) const {
    const int fd = connectTo(port_);
    if (fd < 0) return {};
    sendAll(fd, request);
    const Reply reply = readReply(fd, request.starts_with("HEAD "));
    ::close(fd);
    return reply;
  }
  Reply get(const std::string& target, const std::string& headers = "") const {
    return exchange("GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" + headers + "\r\n");
  }

  TempDir dir;
  int port_ = 0;

 private:
  std::optional<PreparedCommand> command_;
  pid_t child_ = -1;
};

const std::set<std::string> collectionTexts{
    "Beware of <script>alert(1)</script> & friends.", "A tag is only a tag: <b>bold</b>.", "Short.",
    "A second plain fortune, a little longer than the first one is.", "The third and last."};

std::string withoutNewline(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

TEST_F(ServeTest, RandomFortunesAsTextJsonAndHtml) {
  start({});
  const Reply text = get("/fortune");
  EXPECT_EQ(text.status, 200);
  EXPECT_EQ(text.header("Content-Type"), "text/plain; charset=utf-8");
  EXPECT_TRUE(collectionTexts.contains(withoutNewline(text.body))) << text.body;

  const Reply json = get("/fortune.json?seed=7");
  EXPECT_EQ(json.header("Content-Type"), "application/json");
  const std::string fields =
      "^[{]\"file\":\"(markup|plain)\",\"number\":[0-9],\"text\":\".*\","
      "\"characters\":[0-9]+,\"lines\":1[}]\n$";
  EXPECT_THAT(json.body, testing::ContainsRegex(fields));
  EXPECT_EQ(get("/fortune.json?seed=7").body, json.body) << "a seed repeats the draw";
  EXPECT_EQ(get("/fortune?seed=7", "Accept: application/json\r\n").body, json.body);

  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(get("/fortune?short&n=6").body, "Short.\n");
    EXPECT_NE(get("/fortune?long=1&n=40").body.size(), std::size_t{0});
  }
  EXPECT_EQ(get("/fortune?n=x").status, 400);

  const Reply page = get("/?seed=1", "Accept: text/html\r\n");
  EXPECT_EQ(page.header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_THAT(page.body, HasSubstr("id=\"another\" href=\"/\""));
  EXPECT_THAT(page.body, HasSubstr("<form action=\"/search\""));
  EXPECT_THAT(page.body, Not(HasSubstr("<script>")));
  EXPECT_THAT(page.body, Not(HasSubstr("<b>")));
}

TEST_F(ServeTest, MarkupInAFortuneIsShownAsText) {
  start({}, {"fortunes/markup"});
  const Reply page = get("/fortunes/markup/0", "Accept: text/html\r\n");
  EXPECT_THAT(page.body,
              HasSubstr("Beware of &lt;script&gt;alert(1)&lt;/script&gt; &amp; friends."));
  EXPECT_THAT(page.body, Not(HasSubstr("<script>")));
  EXPECT_THAT(page.body, HasSubstr("href=\"/fortunes/markup/0\""));
}

TEST_F(ServeTest, PermalinksWithValidatorsAndTheirErrors) {
  start({});
  const Reply text = get("/fortunes/plain/2");
  EXPECT_EQ(text.status, 200);
  EXPECT_EQ(text.body, "The third and last.\n");
  const std::string tag = text.header("ETag").value_or("");
  EXPECT_THAT(tag, testing::MatchesRegex("\"[0-9a-f]{16}\""));
  const Reply unchanged = get("/fortunes/plain/2", "If-None-Match: " + tag + "\r\n");
  EXPECT_EQ(unchanged.status, 304);
  EXPECT_EQ(unchanged.body, "");

  EXPECT_THAT(get("/fortunes/plain/2.json").body, HasSubstr("\"file\":\"plain\",\"number\":2,"));
  EXPECT_THAT(get("/fortunes/plain/2", "Accept: application/json\r\n").body,
              HasSubstr("\"number\":2,"));
  EXPECT_THAT(get("/fortunes/plain/2", "Accept: text/html\r\n").body, HasSubstr("<!DOCTYPE html>"));

  for (const std::string target :
       {"/fortunes/plain/3", "/fortunes/plain/-1", "/fortunes/plain/99999999999999999999",
        "/fortunes/none/0", "/fortunes/plain", "/nowhere"}) {
    const Reply missing = get(target);
    EXPECT_EQ(missing.status, 404) << target;
    EXPECT_EQ(missing.header("Content-Type"), "application/json") << target;
    EXPECT_THAT(missing.body, HasSubstr("\"status\":404")) << target;
  }
}

TEST_F(ServeTest, OnlyTheCollectionsFilesAreReachable) {
  start({});
  const std::string secret = dir.path("secret");
  for (const std::string& target : std::vector<std::string>{
           "/fortunes/../secret/0", "/fortunes/%2e%2e/secret/0", "/fortunes/%2E%2E%2Fsecret/0",
           "/fortunes/..%2fsecret/0", "/fortunes/fortunes/../secret/0", "/fortunes/link/secret/0",
           "/fortunes/link/fortunes/plain/0", "/fortunes/" + secret + "/0",
           "/fortunes/%2F" + secret.substr(1) + "/0", "/fortunes/./plain/0", "/fortunes//plain/0",
           "/fortunes/plain%00/0", "/../secret", "/fortunes/plain/../../secret/0"}) {
    const Reply reply = get(target);
    EXPECT_EQ(reply.status, 404) << target;
    EXPECT_THAT(reply.body, Not(HasSubstr("outside"))) << target;
  }
}

TEST_F(ServeTest, TodayIsTheSameAllDayAndCachedUntilMidnight) {
  start({});
  const Reply today = get("/today");
  EXPECT_EQ(today.status, 200);
  EXPECT_EQ(get("/today").body, today.body);
  EXPECT_THAT(today.header("Cache-Control").value_or(""),
              testing::MatchesRegex("public, max-age=[0-9]+"));
  EXPECT_THAT(today.header("Expires").value_or(""), testing::EndsWith(" GMT"));
  EXPECT_TRUE(today.header("ETag").has_value());
  EXPECT_THAT(get("/today.json").body, HasSubstr("\"text\":"));
}

TEST_F(ServeTest, SearchPagesThroughTheMatches) {
  start({});
  const Reply first = get("/search?q=tag|plain|third&limit=2");
  EXPECT_EQ(first.status, 200);
  EXPECT_THAT(first.body, HasSubstr("\"matches\":[{\"file\":\"markup\",\"number\":1,"));
  EXPECT_THAT(first.body, HasSubstr("{\"file\":\"plain\",\"number\":1,"));
  EXPECT_THAT(first.body, testing::EndsWith("\"next\":2}\n"));
  const Reply last = get("/search?q=tag|plain|third&limit=2&after=2");
  EXPECT_THAT(last.body, HasSubstr("\"matches\":[{\"file\":\"plain\",\"number\":2,"));
  EXPECT_THAT(last.body, testing::EndsWith("\"next\":null}\n"));
  EXPECT_THAT(get("/search?q=BEWARE&i=1").body, HasSubstr("\"number\":0,"));
  EXPECT_THAT(get("/search?q=BEWARE").body, HasSubstr("\"matches\":[]"));
  EXPECT_THAT(get("/search?q=t&limit=2", "Accept: text/html\r\n").body, HasSubstr("id=\"next\""));

  for (const std::string& target : std::vector<std::string>{
           "/search", "/search?q=", "/search?q=(", "/search?q=a&limit=0", "/search?q=a&limit=101",
           "/search?q=a&after=-1", "/search?q=" + std::string(257, 'a')}) {
    const Reply refused = get(target);
    EXPECT_EQ(refused.status, 400) << target;
    EXPECT_THAT(refused.body, HasSubstr("\"error\":")) << target;
  }
}

TEST_F(ServeTest, ASearchThatTakesTooLongIsRefused) {
  std::string many;
  for (int i = 0; i < 20000; ++i) many += "Fortune number " + std::to_string(i) + ".\n%\n";
  dir.writeFile("fortunes/many", many);
  start({"--search-time", "1"});
  const Reply slow = get("/search?q=(a|b|c|d|e)*x(y|z)&limit=100");
  EXPECT_EQ(slow.status, 503);
  EXPECT_THAT(slow.body, HasSubstr("search took longer than 1 ms"));
}

TEST_F(ServeTest, FilesHealthMethodsAndHead) {
  start({"-e"});
  EXPECT_EQ(get("/files").body,
            "[{\"file\":\"markup\",\"count\":2,\"share\":50},"
            "{\"file\":\"plain\",\"count\":3,\"share\":50}]\n");
  EXPECT_EQ(get("/healthz").body, "ok\n");
  const Reply head = exchange("HEAD /fortunes/plain/0 HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.header("Content-Length"), "7");
  for (const std::string method : {"POST", "PUT", "DELETE", "OPTIONS", "BREW"}) {
    const Reply refused =
        exchange(method + " /fortune HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(refused.status, 405) << method;
    EXPECT_EQ(refused.header("Allow"), "GET, HEAD") << method;
  }
}

TEST_F(ServeTest, FilesAreNamedByTheirPathsBelowTheDirectoryThatHoldsThemAll) {
  std::filesystem::create_directories(dir.path("other/sub dir"));
  dir.writeFile("other/sub dir/deep", "From deep down.\n");
  start({}, {"fortunes", "other/sub dir/deep"});
  EXPECT_THAT(get("/files").body, HasSubstr("{\"file\":\"fortunes/markup\",\"count\":2,"));
  EXPECT_EQ(get("/fortunes/other/sub%20dir/deep/0").body, "From deep down.\n");
  EXPECT_THAT(get("/fortunes/other/sub%20dir/deep/0", "Accept: text/html\r\n").body,
              HasSubstr("href=\"/fortunes/other/sub%20dir/deep/0\""));
  EXPECT_EQ(get("/fortunes/markup/0").status, 404);
}

TEST_F(ServeTest, OversizedRequestsAreRefused) {
  start({});
  EXPECT_EQ(get("/fortune?x=" + std::string(5000, 'a')).status, 414);
  std::string fields;
  for (int i = 0; i < 70; ++i) fields += "X-Field-" + std::to_string(i) + ": 1\r\n";
  EXPECT_EQ(get("/fortune", fields).status, 431);
  EXPECT_EQ(get("/fortune", "X-Long: " + std::string(9000, 'b') + "\r\n").status, 431);
  const Reply body = exchange("GET /fortune HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello");
  EXPECT_EQ(body.status, 413);
  EXPECT_THAT(body.body, HasSubstr("\"status\":413"));
  // Beyond what a connection may hold, the HTTP library refuses the head itself.
  EXPECT_THAT(get("/fortune", "X-Huge: " + std::string(40000, 'c') + "\r\n").status,
              AnyOf(0, 413, 414, 431));
  EXPECT_EQ(get("/healthz").status, 200);
}

// Lets this process hold `count` more sockets than the usual limit of 1024 allows.
void allowOpenFiles(rlim_t count) {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = std::min(files.rlim_max, std::max(files.rlim_cur, count));
  setrlimit(RLIMIT_NOFILE, &files);
}

TEST_F(ServeTest, AFloodOfIdleConnectionsAndASlowClientLeaveRoomForOthers) {
  start({"--timeout", "2"});
  allowOpenFiles(4096);
  std::vector<int> idle;
  for (int i = 0; i < 1000; ++i) idle.push_back(connectTo(port_));
  const int slow = connectTo(port_);
  sendAll(slow, "GET /fortune HTTP/1.1\r\nHo");
  EXPECT_EQ(get("/healthz").status, 200);
  std::this_thread::sleep_for(500ms);
  sendAll(slow, "st: x");
  EXPECT_EQ(get("/fortunes/plain/0").body, "Short.\n");
  // Silent connections are closed after the timeout: the slow client reads the end.
  char byte = 0;
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(::recv(slow, &byte, 1, 0), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
  for (const int fd : idle) ::close(fd);
  ::close(slow);
  EXPECT_EQ(get("/healthz").status, 200);
}

TEST_F(ServeTest, AppendedAndReplacedFilesAreServedAtOnceWithoutAFailedRequest) {
  ASSERT_EQ(runCommand(dir.path(), {"index", "fortunes/plain"}).status, 0);
  start({"--log"});
  std::atomic<bool> done{false};
  std::atomic<int> failed{0};
  std::atomic<int> answered{0};
  std::thread reader([&] {
    while (!done) {
      const int status = get("/fortune").status;
      if (status != 200) ++failed;
      ++answered;
    }
  });
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(
        runCommand(dir.path(), {"add", "fortunes/plain", "Appended " + std::to_string(i)}).status,
        0);
  }
  const auto appended = std::chrono::steady_clock::now();
  Reply newest;
  while ((newest = get("/fortunes/plain/7")).status != 200 &&
         std::chrono::steady_clock::now() - appended < 3s) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(newest.body, "Appended 4\n");
  EXPECT_LT(std::chrono::steady_clock::now() - appended, 1s);

  dir.writeFile("replacement", "Only one now.\n");
  std::filesystem::rename(dir.path("replacement"), dir.path("fortunes/markup"));
  const auto replaced = std::chrono::steady_clock::now();
  while (get("/fortunes/markup/1").status != 404 &&
         std::chrono::steady_clock::now() - replaced < 3s) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(get("/fortunes/markup/0").body, "Only one now.\n");
  EXPECT_LT(std::chrono::steady_clock::now() - replaced, 1s);
  done = true;
  reader.join();
  EXPECT_EQ(failed, 0) << "of " << answered;
  EXPECT_THAT(log(),
              testing::ContainsRegex(
                  R"(127\.0\.0\.1 - - \[[^]]+\] "GET /fortune HTTP/1\.1" 200 [0-9]+ [0-9.]+)"));
}

TEST_F(ServeTest, StopsWithinASecondOnSigtermAndSigint) {
  for (const int signal : {SIGTERM, SIGINT}) {
    start({});
    const int open = connectTo(port_);
    sendAll(open, "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(readReply(open).status, 200);
    const auto before = std::chrono::steady_clock::now();
    const CommandOutcome outcome = stop(signal);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.status, 0);
    ::close(open);
  }
}

TEST_F(ServeTest, MistakesInTheCommandLine) {
  const CommandOutcome help = runCommand(dir.path(), {"serve", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, StartsWith("Usage: tallowmere serve"));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"serve", "--listen", "nonsense", "fortunes"},
        {"serve", "--listen", "127.0.0.1:70000", "fortunes"},
        {"serve", "--threads", "0", "fortunes"},
        {"serve", "--bogus"}}) {
    const CommandOutcome outcome = runCommand(dir.path(), args);
    EXPECT_EQ(outcome.status, 2) << args[1];
    EXPECT_THAT(outcome.err, StartsWith("tallowmere serve: ")) << args[1];
  }
  EXPECT_EQ(runCommand(dir.path(), {"serve", "--listen", "127.0.0.1:0", "missing"}).status, 1);
}

}  // namespace
}  // namespace tallowmere::test
