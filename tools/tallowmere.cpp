// tallowmere: prints a random fortune, and maintains fortune files.
//
// A thin layer over the library: the options are read here and in CommandLine.cpp, the
// drawing is in Draw.cpp, the subcommands in Maintain.cpp. Failures end up below, where they
// become "tallowmere: <message>" on standard error and the exit status.
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <span>
#include <string>
#include <vector>

#include <tallowmere/Paths_tallowmere.hpp>
#include <tallowmere/Platform/Random.hpp>
#include "CommandLine.hpp"
#include "Draw.hpp"
#include "Help.hpp"
#include "Maintain.hpp"
#include "Report.hpp"

namespace tallowmere::cli {

namespace {

constexpr std::array drawOptionSpecs{
    OptionSpec{'a', "all", false},       OptionSpec{'o', "offensive", false},
    OptionSpec{'e', "equal", false},     OptionSpec{'s', "short", false},
    OptionSpec{'l', "long", false},      OptionSpec{'n', "length", true},
    OptionSpec{'m', "match", true},      OptionSpec{'i', "ignore-case", false},
    OptionSpec{'c', "show-file", false}, OptionSpec{'f', "files", false},
    OptionSpec{'d', "delimiter", true},  OptionSpec{'w', "wait", false},
    OptionSpec{'\0', "seed", true},      OptionSpec{'\0', "help", false},
    OptionSpec{'\0', "version", false},  OptionSpec{'\0', "today", false},
    OptionSpec{'\0', "fresh", false},    OptionSpec{'\0', "json", false},
};

// Options that end the program at once.
enum class Action { Draw, Help, Version };

// The long options without a short form that shape the draw.
void readLongOption(const ParsedOption& option, DrawOptions& options) {
  const std::string_view name = option.definition->longName;
  if (name == "json") options.json = true;
  if (name == "today" || name == "fresh") {
    const auto pick = name == "today" ? DrawOptions::Pick::Today : DrawOptions::Pick::Fresh;
    if (options.pick != DrawOptions::Pick::Random && options.pick != pick) {
      throw BadUsage("--today and --fresh cannot be used together");
    }
    options.pick = pick;
  }
}

Action readDrawOptions(std::span<const std::string> args, DrawOptions& options) {
  ParsedCommandLine line = parseCommandLine(drawOptionSpecs, args);
  Action action = Action::Draw;
  for (const ParsedOption& option : line.options) {
    const std::string& value = option.value;
    switch (option.definition->shortName) {
      case 'a':
        options.kind = FortuneType::All;
        break;
      case 'o':
        options.kind = FortuneType::Offensive;
        break;
      case 'e':
        options.equal = true;
        break;
      case 's':
        options.length = DrawOptions::Length::Short;
        break;
      case 'l':
        options.length = DrawOptions::Length::Long;
        break;
      case 'n':
        options.lengthLimit = parseInt64(value, "--length");
        if (options.lengthLimit < 0) throw BadUsage("--length must not be negative: " + value);
        break;
      case 'm':
        options.pattern = value;
        break;
      case 'i':
        options.ignoreCase = true;
        break;
      case 'c':
        options.showFile = true;
        break;
      case 'f':
        options.listFiles = true;
        break;
      case 'd':
        options.delimiter = parseDelimiter(value);
        break;
      case 'w':
        options.wait = true;
        break;
      default:
        readLongOption(option, options);
        if (option.definition->longName == "seed")
          seedGlobalGenerator(parseUInt64(value, "--seed"));
        if (option.definition->longName == "help" && action == Action::Draw) action = Action::Help;
        if (option.definition->longName == "version" && action == Action::Draw)
          action = Action::Version;
    }
  }
  options.operands = std::move(line.operands);
  return action;
}

// `tallowmere serve` is a program of its own, so that its HTTP library costs nothing to the
// start of any other use: it is run in this process's place, found beside this program (in a
// build tree) or in the libexec directory. Returns only when it cannot be run.
[[noreturn]] void runServer(std::span<const std::string> args) {
  std::vector<std::string> candidates;
  std::error_code failed;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failed);
  if (!failed) candidates.push_back(self.parent_path() / "tallowmere-serve");
  candidates.push_back(getLibexecDir() + "/tallowmere-serve");
  std::vector<char*> argv{const_cast<char*>("tallowmere-serve")};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::cout.flush();
  int error = ENOENT;
  for (const std::string& program : candidates) {
    ::execv(program.c_str(), argv.data());
    if (errno != ENOENT) error = errno;
  }
  throw std::runtime_error("serve: cannot run " + candidates.back() + ": " + std::strerror(error));
}

int run(std::span<const std::string> args) {
  if (!args.empty() && args.front() == "serve") runServer(args.subspan(1));
  if (!args.empty() && isSubcommand(args.front())) {
    return runSubcommand(args.front(), args.subspan(1));
  }
  DrawOptions options;
  switch (readDrawOptions(args, options)) {
    case Action::Help:
      printHelp(std::cout);
      return 0;
    case Action::Version:
      printVersion(std::cout);
      return 0;
    case Action::Draw:
      break;
  }
  return runDraw(options);
}

}  // namespace

}  // namespace tallowmere::cli

int main(int argc, char** argv) {
  using namespace tallowmere::cli;
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    const int status = run(args);
    flushStandardOutput();
    return status;
  } catch (const BadUsage& e) {
    std::cout.flush();
    std::cerr << "tallowmere: " << e.what() << "\nTry 'tallowmere --help' for more information.\n";
    return 2;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "tallowmere: " << e.what() << '\n';
    return 1;
  }
}
