#include "Serve.hpp"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <clocale>
#include <ctime>
#include <iostream>

#include "../CommandLine.hpp"
#include "../Draw.hpp"
#include "../Report.hpp"
#include "Http.hpp"
#include "Site.hpp"

namespace tallowmere::cli {

namespace {

constexpr std::array serveOptionSpecs{
    OptionSpec{'a', "all", false},
    OptionSpec{'o', "offensive", false},
    OptionSpec{'e', "equal", false},
    OptionSpec{'s', "short", false},
    OptionSpec{'l', "long", false},
    OptionSpec{'n', "length", true},
    OptionSpec{'d', "delimiter", true},
    OptionSpec{'\0', "listen", true},
    OptionSpec{'\0', "log", false},
    OptionSpec{'\0', "threads", true},
    OptionSpec{'\0', "max-connections", true},
    OptionSpec{'\0', "timeout", true},
    OptionSpec{'\0', "search-time", true},
    OptionSpec{'\0', "help", false},
};

struct ServeOptions {
  DrawOptions draw;
  std::string listen = "127.0.0.1:8080";
  serve::AccessLog log = serve::AccessLog::Off;
  serve::HttpLimits limits;
  serve::SiteLimits siteLimits;
  bool help = false;
};

unsigned parseCount(std::string_view text, std::string_view what, std::uint64_t most) {
  const std::uint64_t count = parseUInt64(text, what);
  if (count < 1 || count > most) {
    throw BadUsage(std::string(what) + " must be from 1 to " + std::to_string(most));
  }
  return static_cast<unsigned>(count);
}

void readLongOption(const ParsedOption& option, ServeOptions& options) {
  const std::string_view name = option.definition->longName;
  if (name == "listen") options.listen = option.value;
  if (name == "log") options.log = serve::AccessLog::StandardError;
  if (name == "threads") options.limits.threads = parseCount(option.value, "--threads", 256);
  if (name == "max-connections") {
    options.limits.maxConnections = parseCount(option.value, "--max-connections", 1000000);
  }
  if (name == "timeout") {
    options.limits.idleTimeout = std::chrono::seconds(parseCount(option.value, "--timeout", 86400));
  }
  if (name == "search-time") {
    options.siteLimits.searchTime =
        std::chrono::milliseconds(parseCount(option.value, "--search-time", 600000));
  }
  if (name == "help") options.help = true;
}

ServeOptions readServeOptions(std::span<const std::string> args) {
  ServeOptions options;
  ParsedCommandLine line = parseCommandLine(serveOptionSpecs, args);
  for (const ParsedOption& option : line.options) {
    switch (option.definition->shortName) {
      case 'a':
        options.draw.kind = FortuneType::All;
        break;
      case 'o':
        options.draw.kind = FortuneType::Offensive;
        break;
      case 'e':
        options.draw.equal = true;
        break;
      case 's':
        options.draw.length = DrawOptions::Length::Short;
        break;
      case 'l':
        options.draw.length = DrawOptions::Length::Long;
        break;
      case 'n':
        options.draw.lengthLimit = parseInt64(option.value, "--length");
        if (options.draw.lengthLimit < 0) {
          throw BadUsage("--length must not be negative: " + option.value);
        }
        break;
      case 'd':
        options.draw.delimiter = parseDelimiter(option.value);
        break;
      default:
        readLongOption(option, options);
    }
  }
  options.draw.operands = std::move(line.operands);
  return options;
}

// Every connection is a descriptor: the soft limit of open files is raised as far as the hard
// one allows, and the connections are held below what is left beside the fortune files.
void fitConnectionsToOpenFileLimit(serve::HttpLimits& limits) {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) return;
  if (files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &files) != 0) getrlimit(RLIMIT_NOFILE, &files);
  }
  constexpr rlim_t reserve = 64;
  if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < limits.maxConnections + reserve) {
    limits.maxConnections =
        static_cast<unsigned>(files.rlim_cur > 2 * reserve ? files.rlim_cur - reserve : reserve);
  }
}

// Blocks SIGTERM and SIGINT in every thread (the server's threads inherit the mask), so that
// the main thread alone takes them, with sigtimedwait.
sigset_t blockStopSignals() {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  // A client that hangs up must not end the server.
  signal(SIGPIPE, SIG_IGN);
  return stops;
}

}  // namespace

void printServeHelp(std::ostream& out) {
  out << R"(Usage: tallowmere serve [--listen HOST:PORT] [OPTIONS] [[N%] FILE|DIR]...

Serves the fortunes that a draw with the same options and operands would use, over HTTP,
until SIGTERM or SIGINT, which let the requests in flight finish. Appended, rebuilt and
replaced files are served as they are now within a second. Nothing is ever written.

Options:
  --listen HOST:PORT    where to listen (default 127.0.0.1:8080; port 0 takes a free one);
                        the address listened on is the first line on standard output
  --log                 one line per request on standard error (common log format and
                        the seconds the answer took)
  --threads N           threads answering requests (default: one per processor)
  --max-connections N   open connections at once; more are refused (default 4096)
  --timeout SECONDS     close a connection idle this long (default 15)
  --search-time MS      the longest one search may run before it is answered with 503
                        (default 2000)
  -a, -o, -e, -s, -l, -n N, -d CHAR
                        as for a draw: the kind of fortune, every file equally likely, the
                        default length filter, the delimiter
  --help                print this help and exit

Endpoints (GET and HEAD):
  /                     a page with a random fortune, its permalink and a search form
  /fortune              a random fortune as text (JSON with Accept: application/json);
                        ?short, ?long, ?n=N, ?equal, ?seed=N as the options of a draw
  /fortune.json         the same as JSON: file, number, text, characters, lines
  /today, /today.json   the fortune of the day (what --today prints), cached until
                        local midnight
  /fortunes/FILE/N      fortune N of FILE (HTML, text or JSON as Accept or .json/.txt
                        asks), with an ETag
  /search?q=REGEX       the matching fortunes as JSON: &i=1 ignores case, &limit=L (1 to
                        100, default 10) and &after=K page through them
  /files                each file with its number of fortunes and share of the draws
  /healthz              "ok"

Example:
  tallowmere serve --listen 0.0.0.0:8080 --log ~/fortunes
)";
}

int runServe(std::span<const std::string> args) {
  ServeOptions options = readServeOptions(args);
  if (options.help) {
    printServeHelp(std::cout);
    return 0;
  }
  // Patterns fold case as the user's locale says, as a draw's -m -i does.
  std::setlocale(LC_CTYPE, "");
  // A server answers the same files for a long time: their fortunes are kept in memory (up to
  // 64 MiB), so that a draw reads no file, and read again when a refresh finds them changed.
  constexpr std::size_t keepInMemory = std::size_t{64} << 20;
  const Collection collection = openCollection(options.draw, keepInMemory);
  if (collection.empty()) {
    if (!options.draw.operands.empty()) throw std::runtime_error("no fortune files to serve");
    throw std::runtime_error("no fortune files of the " + kindName(options.draw.kind) +
                             " kind: looked in " + collection.where());
  }
  fitConnectionsToOpenFileLimit(options.limits);
  const sigset_t stops = blockStopSignals();
  const serve::ListeningSocket socket = serve::listenOn(options.listen);
  serve::Site site(
      collection, filterOf(options.draw),
      [&draw = options.draw, collection](const FortuneFilter& filter) {
        return identityOf(draw, filter, collection);
      },
      options.siteLimits);
  serve::HttpServer server(
      socket.fd, options.limits, options.log,
      [&site](const serve::HttpRequest& request) { return site.handle(request); });
  std::cout << "http://" << socket.address << "/" << std::endl;
  // Looks at the files four times a second, so that appended, rebuilt and replaced files are
  // served as they are now well within a second, whatever the requests do meanwhile.
  const timespec tick{0, 250'000'000};
  for (;;) {
    const int signal = sigtimedwait(&stops, nullptr, &tick);
    if (signal == SIGTERM || signal == SIGINT) break;
    if (signal < 0 && errno != EAGAIN && errno != EINTR) break;
    try {
      collection.refresh();
    } catch (const std::exception& failure) {
      std::cerr << "tallowmere serve: " << failure.what() << '\n';
    }
  }
  constexpr std::chrono::milliseconds grace(800);
  site.endSearchesBy(std::chrono::steady_clock::now() + grace);
  server.stop(grace);
  return 0;
}

}  // namespace tallowmere::cli
