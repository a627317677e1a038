#include "Maintain.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <optional>

#include "Check.hpp"
#include "Collection.hpp"
#include "CommandLine.hpp"
#include "Data/Fortune.hpp"
#include "Help.hpp"
#include "Report.hpp"
#include "Sources.hpp"

namespace tallowmere::cli {

namespace {

constexpr OptionSpec helpOption{'\0', "help", false};
constexpr OptionSpec delimiterOption{'d', "delimiter", true};
constexpr std::array fileOptions{helpOption, delimiterOption};
constexpr std::array indexOptions{helpOption, delimiterOption, OptionSpec{'\0', "dat", false}};
constexpr std::array listOptions{helpOption, OptionSpec{'a', "all", false},
                                 OptionSpec{'o', "offensive", false}};

// What a subcommand was given: its operands and the options it knows.
struct Arguments {
  std::vector<std::string> operands;
  char32_t delimiter = U'%';
  FortuneType kind = FortuneType::Normal;
  bool help = false;
  bool dat = false;  // index --dat: write the classic tools' data file too
};

Arguments parseArguments(std::span<const OptionSpec> specs, std::span<const std::string> args) {
  Arguments parsed;
  ParsedCommandLine line = parseCommandLine(specs, args);
  for (const ParsedOption& option : line.options) {
    switch (option.definition->shortName) {
      case 'd': parsed.delimiter = parseDelimiter(option.value); break;
      case 'a': parsed.kind = FortuneType::All; break;
      case 'o': parsed.kind = FortuneType::Offensive; break;
      default:
        parsed.help = parsed.help || option.definition->longName == "help";
        parsed.dat = parsed.dat || option.definition->longName == "dat";
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
    throw FileError(path, std::filesystem::is_directory(status) ? "is a directory"
                                                                : "not a regular file");
  }
  if (!create && !std::filesystem::exists(status)) throw FileError(path, "no such file");
  return withFortuneFile(delimiter, /*writable=*/true, path, std::forward<Action>(action));
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
      std::cerr << "tallowmere: " << FileError(path, e.what()).what() << '\n';
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
  if (error && error != std::errc::no_such_file_or_directory) throw FileError(path, error.message());
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

// The text to add, as given or from standard input, without the newlines that end it (every
// fortune gets exactly one from appendFortune). Refuses texts that the file could not hold
// as one fortune.
std::string textToAdd(const Arguments& args) {
  std::string text;
  if (args.operands.size() == 2) {
    text = args.operands[1];
  } else {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (std::cin.bad()) throw std::runtime_error("standard input: read error");
  }
  while (!text.empty() && text.back() == '\n') text.pop_back();
  if (text.empty()) throw std::runtime_error("add: the text is empty; nothing was added");
  if (!isValidUtf8(text)) throw std::runtime_error("add: the text is not valid UTF-8");
  const std::string delimiterLine = encodeUtf8(args.delimiter);
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    if (rest.substr(0, end) == delimiterLine) {
      throw std::runtime_error("add: the text holds a line with only the delimiter '" +
                               delimiterLine + "', which would split it into two fortunes");
    }
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  return text;
}

int runAdd(const Arguments& args) {
  requireCount(args, 1, 2, "add [-d CHAR] FILE [TEXT]");
  const std::string& path = args.operands[0];
  const std::string text = textToAdd(args);
  aboutFile(path, [&] {
    withFortuneFileForWriting(args.delimiter, path, true,
                              [&text](const FortuneFile& file) { appendFortune(file, text); });
  });
  return 0;
}

// The fortune file at `path` as the draws read it, after making sure it is one.
FortuneSource sourceOf(const Arguments& args, const std::string& path) {
  requireFortuneText(path);
  return FortuneSource(path, args.delimiter);
}

int runGet(const Arguments& args) {
  requireCount(args, 2, 2, "get [-d CHAR] FILE N");
  const std::string& path = args.operands[0];
  const std::int64_t number = parseInt64(args.operands[1], "the fortune number");
  FortuneSource source = sourceOf(args, path);
  const std::string text = aboutFile(path, [&] {
    const std::int64_t count = source.count();
    if (number < 0 || number >= count) {
      throw FileError(path, "no fortune number " + std::to_string(number) + ": " +
                                (count == 0 ? "the file holds none"
                                            : "the file holds " + fortunes(count) +
                                                  ", numbered 0 to " + std::to_string(count - 1)));
    }
    return fortuneOf(source, number);
  });
  std::cout << text << '\n';
  return 0;
}

int runCount(const Arguments& args) {
  requireCount(args, 1, 1, "count [-d CHAR] FILE");
  FortuneSource source = sourceOf(args, args.operands[0]);
  std::cout << aboutFile(source.path(), [&] { return source.count(); }) << '\n';
  return 0;
}

int runStats(const Arguments& args) {
  requireCount(args, 1, 1, "stats [-d CHAR] FILE");
  const std::string& path = args.operands[0];
  requireFortuneText(path);
  // Without an index the text is indexed in memory: a text that cannot be read says so.
  if (!std::filesystem::exists(path + ".ix")) aboutFile(path, [&] { openFile(path, OpenMode::ReadOnly); });
  const FortuneStats stats = aboutFile(path, [&] {
    return withFortuneFile(args.delimiter, false, path,
                           [](const FortuneFile& file) { return getStats(getIndex(file)); });
  });
  std::cout << "numFortunes: " << stats.numFortunes << "\noffsetAfter: " << stats.offsetAfter
            << "\nminChars: " << stats.minChars << "\nmaxChars: " << stats.maxChars
            << "\nminLines: " << stats.minLines << "\nmaxLines: " << stats.maxLines << '\n';
  return 0;
}

int runList(const Arguments& args) {
  requireCount(args, 0, 0, "list [-a|-o]");
  FileSet files;
  const Collection collection = collectCollection(args.kind, files);
  if (files.paths().empty()) {
    throw std::runtime_error("no fortune files of the " + kindName(args.kind) +
                             " kind: looked in " + collection.where);
  }
  for (const std::string& path : files.paths()) std::cout << path << '\n';
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
  const std::span<const OptionSpec> specs = name == "list"    ? std::span<const OptionSpec>(listOptions)
                                            : name == "index" ? std::span<const OptionSpec>(indexOptions)
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
