#include "Maintain.hpp"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <iterator>
#include <optional>

#include <tallowmere/Data/Fortune.hpp>
#include <tallowmere/Data/Fortune/Collection.hpp>
#include "Check.hpp"
#include "CommandLine.hpp"
#include "Help.hpp"
#include "Json.hpp"
#include "Report.hpp"

namespace tallowmere::cli {

namespace {

constexpr OptionSpec helpOption{'\0', "help", false};
constexpr OptionSpec delimiterOption{'d', "delimiter", true};
constexpr OptionSpec jsonOption{'\0', "json", false};
constexpr std::array fileOptions{helpOption, delimiterOption};
constexpr std::array readOptions{helpOption, delimiterOption, jsonOption};
constexpr std::array indexOptions{helpOption, delimiterOption, OptionSpec{'\0', "dat", false}};
constexpr std::array listOptions{helpOption, jsonOption, OptionSpec{'a', "all", false},
                                 OptionSpec{'o', "offensive", false}};

// What a subcommand was given: its operands and the options it knows.
struct Arguments {
  std::vector<std::string> operands;
  char32_t delimiter = U'%';
  FortuneType kind = FortuneType::Normal;
  bool help = false;
  bool dat = false;   // index --dat: write the classic tools' data file too
  bool json = false;  // get, count, stats, list --json: JSON Lines
};

Arguments parseArguments(std::span<const OptionSpec> specs, std::span<const std::string> args) {
  Arguments parsed;
  ParsedCommandLine line = parseCommandLine(specs, args);
  for (const ParsedOption& option : line.options) {
    switch (option.definition->shortName) {
      case 'd':
        parsed.delimiter = parseDelimiter(option.value);
        break;
      case 'a':
        parsed.kind = FortuneType::All;
        break;
      case 'o':
        parsed.kind = FortuneType::Offensive;
        break;
      default:
        parsed.help = parsed.help || option.definition->longName == "help";
        parsed.dat = parsed.dat || option.definition->longName == "dat";
        parsed.json = parsed.json || option.definition->longName == "json";
        break;
    }
  }
  parsed.operands = std::move(line.operands);
  return parsed;
}

void requireCount(const Arguments& args, std::size_t least, std::size_t most,
                  std::string_view usage) {
  if (args.operands.size() < least || args.operands.size() > most) {
    throw BadUsage("usage: tallowmere " + std::string(usage));
  }
}

std::string fortunes(std::int64_t count) {
  return std::to_string(count) + (count == 1 ? " fortune" : " fortunes");
}

// The writing subcommands open a fortune file read-write for the span of `action`. The
// library holds the text file's lock for each change and replaces a damaged index itself. A
// path that names something other than a regular file (a directory, a FIFO) is refused, and a
// missing one is created only when `create` says so.
template <class Action>
auto withFortuneFileForWriting(char32_t delimiter, const std::string& path, bool create,
                               Action&& action) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    throw FileError(
        path, std::filesystem::is_directory(status) ? "is a directory" : "not a regular file");
  }
  if (!create && !std::filesystem::exists(status)) throw FileError(path, "no such file");
  // The command has only this work to do: a long text is indexed on every core.
  return withFortuneFile(delimiter, /*writable=*/true, path, FortuneFileOptions{.scanThreads = 0},
                         std::forward<Action>(action));
}

// Runs each(path) for every operand; a failure is reported and the next file still handled.
template <class Each>
int forEachFile(const Arguments& args, Each&& each) {
  int status = 0;
  for (const std::string& path : args.operands) {
    try {
      if (!each(path)) status = 1;
    } catch (const std::exception& e) {
      std::cout.flush();
      std::cerr << "tallowmere: " << FileError(path, e).what() << '\n';
      status = 1;
    }
  }
  return status;
}

// Fails with a message that says what `path` is instead of a fortune text file.
void requireFortuneText(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (std::filesystem::is_regular_file(status)) return;
  if (std::filesystem::is_directory(status)) throw FileError(path, "is a directory");
  if (std::filesystem::exists(status)) throw FileError(path, "not a regular file");
  if (error && error != std::errc::no_such_file_or_directory)
    throw FileError(path, error.message());
  throw FileError(path, "no such file");
}

int runIndex(const Arguments& args) {
  requireCount(args, 1, SIZE_MAX, "index [-d CHAR] [--dat] FILE...");
  return forEachFile(args, [&args](const std::string& path) {
    requireFortuneText(path);
    const std::int64_t count =
        withFortuneFileForWriting(args.delimiter, path, false, [&](const FortuneFile& file) {
          rebuildIndex(file);
          if (args.dat) rebuildStrfileData(file);
          return getNumFortunes(file);
        });
    std::cout << path << ": " << fortunes(count) << '\n';
    return true;
  });
}

// The fortune to add, handed to appendFortune in pieces as it is read (from the command line, or
// from standard input in bounded memory): without the newlines that end it, as every fortune
// gets exactly one; refused when it is empty, or holds a line with only the delimiter, which
// would split it into two fortunes. The first MiB is read before any file is touched, so that a
// text of that size or less is refused, when it is, before anything happens; a refusal found
// later makes the append put the file back as it was.
class FortuneText {
 public:
  // `read` fills a buffer and returns how many bytes it holds, 0 at the end.
  FortuneText(std::function<std::size_t(char*, std::size_t)> read, std::string delimiter)
      : read_(std::move(read)), delimiter_(std::move(delimiter)) {}

  void readAhead() {
    while (ready_.size() < kAhead && readMore()) {
    }
  }

  std::string_view next() {
    handedOut_.clear();
    handedOut_.swap(ready_);
    while (handedOut_.empty() && readMore()) handedOut_.swap(ready_);
    return handedOut_;
  }

 private:
  static constexpr std::size_t kAhead = 1 << 20;

  // Reads a chunk into ready_; false at the end of the text, which is then checked whole.
  bool readMore() {
    if (ended_) return false;
    char chunk[64 * 1024];
    const std::size_t n = read_(chunk, sizeof chunk);
    if (n == 0) {
      ended_ = true;
      endLine();
      if (!any_) throw std::runtime_error("add: the text is empty; nothing was added");
      return false;  // the newlines still held end the text: dropped
    }
    for (const char c : std::string_view(chunk, n)) {
      if (c == '\n') {
        endLine();
        held_ += c;
        continue;
      }
      if (line_.size() <= delimiter_.size()) line_ += c;
      ready_ += held_;
      held_.clear();
      ready_ += c;
      any_ = true;
    }
    return true;
  }

  void endLine() {
    if (line_ == delimiter_) {
      throw std::runtime_error("add: the text holds a line with only the delimiter '" + delimiter_ +
                               "', which would split it into two fortunes");
    }
    line_.clear();
  }

  std::function<std::size_t(char*, std::size_t)> read_;
  const std::string delimiter_;
  std::string ready_;      // read and checked, not yet handed out
  std::string handedOut_;  // the piece handed out last
  std::string line_;       // the line being read, as far as it may still be the delimiter alone
  std::string held_;       // newlines that end the text unless more follows
  bool any_ = false;       // whether anything but newlines was read
  bool ended_ = false;
};

// The pieces of standard input.
std::size_t readStandardInput(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(0, buffer, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR)
      throw std::runtime_error(std::string("standard input: ") + std::strerror(errno));
  }
}

int runAdd(const Arguments& args) {
  requireCount(args, 1, 2, "add [-d CHAR] FILE [TEXT]");
  const std::string& path = args.operands[0];
  std::string_view given;
  if (args.operands.size() == 2) given = args.operands[1];
  FortuneText text(args.operands.size() == 2 ? std::function<std::size_t(char*, std::size_t)>(
                                                   [&given](char* buffer, std::size_t size) {
                                                     const std::size_t n =
                                                         std::min(size, given.size());
                                                     std::copy_n(given.data(), n, buffer);
                                                     given.remove_prefix(n);
                                                     return n;
                                                   })
                                             : readStandardInput,
                   encodeUtf8(args.delimiter));
  text.readAhead();
  aboutFile(path, [&] {
    withFortuneFileForWriting(args.delimiter, path, true, [&text](const FortuneFile& file) {
      appendFortune(file, [&text] { return text.next(); });
    });
  });
  return 0;
}

// The fortune file at `path` as the draws read it, after making sure it is one.
Collection collectionOf(const Arguments& args, const std::string& path) {
  requireFortuneText(path);
  CollectionOptions options;
  options.delimiter = args.delimiter;
  return aboutFile(path, [&] { return Collection::ofFiles(std::span(&path, 1), options); });
}

void printJsonLine(const JsonWriter& json) { std::cout << json.text() << '\n'; }

int runGet(const Arguments& args) {
  requireCount(args, 2, 2, "get [-d CHAR] [--json] FILE N");
  const std::string& path = args.operands[0];
  const std::int64_t number = parseInt64(args.operands[1], "the fortune number");
  const Collection collection = collectionOf(args, path);
  const DrawnFortune fortune = aboutFile(path, [&] { return collection.read(path, number); });
  if (args.json) {
    JsonWriter json;
    writeFortune(json, fortune.path, fortune.number, fortune.text);
    printJsonLine(json);
    return 0;
  }
  std::cout << fortune.text << '\n';
  return 0;
}

int runCount(const Arguments& args) {
  requireCount(args, 1, 1, "count [-d CHAR] [--json] FILE");
  const std::string& path = args.operands[0];
  const Collection collection = collectionOf(args, path);
  const std::int64_t count = aboutFile(path, [&] { return collection.count(); });
  if (args.json) {
    JsonWriter json;
    printJsonLine(json.beginObject().member("file", path).member("count", count).endObject());
    return 0;
  }
  std::cout << count << '\n';
  return 0;
}

int runStats(const Arguments& args) {
  requireCount(args, 1, 1, "stats [-d CHAR] [--json] FILE");
  const std::string& path = args.operands[0];
  const Collection collection = collectionOf(args, path);
  const FortuneStats stats = aboutFile(path, [&] { return collection.stats(); });
  if (args.json) {
    JsonWriter json;
    json.beginObject()
        .member("file", path)
        .member("numFortunes", stats.numFortunes)
        .member("offsetAfter", stats.offsetAfter)
        .member("minChars", stats.minChars)
        .member("maxChars", stats.maxChars)
        .member("minLines", stats.minLines)
        .member("maxLines", stats.maxLines)
        .endObject();
    printJsonLine(json);
    return 0;
  }
  std::cout << "numFortunes: " << stats.numFortunes << "\noffsetAfter: " << stats.offsetAfter
            << "\nminChars: " << stats.minChars << "\nmaxChars: " << stats.maxChars
            << "\nminLines: " << stats.minLines << "\nmaxLines: " << stats.maxLines << '\n';
  return 0;
}

std::string_view formatName(FileFormat format) {
  switch (format) {
    case FileFormat::Indexed:
      return "indexed";
    case FileFormat::Classic:
      return "classic";
    case FileFormat::Unindexed:
      break;
  }
  return "unindexed";
}

int runList(const Arguments& args) {
  requireCount(args, 0, 0, "list [-a|-o] [--json]");
  CollectionOptions options;
  options.kind = args.kind;
  options.onSkipped = reportSkipped;
  const Collection collection = Collection::ofKind(options);
  if (collection.empty()) {
    throw std::runtime_error("no fortune files of the " + kindName(args.kind) +
                             " kind: looked in " + collection.where());
  }
  for (const CollectionFile& file : collection.files()) {
    if (args.json) {
      JsonWriter json;
      json.beginObject()
          .member("file", file.path)
          .member("format", formatName(file.format))
          .endObject();
      printJsonLine(json);
    } else {
      std::cout << file.path << '\n';
    }
  }
  return 0;
}

int runCheck(const Arguments& args) {
  requireCount(args, 1, SIZE_MAX, "check [-d CHAR] FILE...");
  return forEachFile(args, [&args](const std::string& path) {
    requireFortuneText(path);
    const CheckResult result = checkFortuneFile(args.delimiter, path);
    if (result.problem) {
      std::cout << path << ": " << *result.problem << '\n';
      return false;
    }
    std::cout << path << ": ok, " << fortunes(result.numFortunes) << '\n';
    return true;
  });
}

}  // namespace

bool isSubcommand(std::string_view name) {
  constexpr std::array names{"index", "add", "get", "count", "stats", "check", "list"};
  return std::find(names.begin(), names.end(), name) != names.end();
}

int runSubcommand(std::string_view name, std::span<const std::string> args) {
  const bool reads = name == "get" || name == "count" || name == "stats";
  const std::span<const OptionSpec> specs =
      name == "list"    ? std::span<const OptionSpec>(listOptions)
      : name == "index" ? std::span<const OptionSpec>(indexOptions)
      : reads           ? std::span<const OptionSpec>(readOptions)
                        : std::span<const OptionSpec>(fileOptions);
  const Arguments parsed = parseArguments(specs, args);
  if (parsed.help) {
    printHelp(std::cout);
    return 0;
  }
  if (name == "index") return runIndex(parsed);
  if (name == "add") return runAdd(parsed);
  if (name == "get") return runGet(parsed);
  if (name == "count") return runCount(parsed);
  if (name == "stats") return runStats(parsed);
  if (name == "check") return runCheck(parsed);
  return runList(parsed);
}

}  // namespace tallowmere::cli
