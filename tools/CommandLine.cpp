#include "CommandLine.hpp"

#include <charconv>
#include <optional>
#include <system_error>

#include <tallowmere/Data/Fortune/Utf8.hpp>

namespace tallowmere::cli {

namespace {

// "-1" reads as a (negative) number, not as an option.
bool isDigit(char c) { return c >= '0' && c <= '9'; }

const OptionSpec* findShort(std::span<const OptionSpec> specs, char name) {
  for (const OptionSpec& known : specs) {
    if (known.shortName == name) return &known;
  }
  return nullptr;
}

const OptionSpec* findLong(std::span<const OptionSpec> specs, std::string_view name) {
  for (const OptionSpec& known : specs) {
    if (!known.longName.empty() && known.longName == name) return &known;
  }
  return nullptr;
}

// "--name" or "--name=value" at args[i]; may consume args[i + 1] as the value.
void parseLong(std::span<const OptionSpec> specs, std::span<const std::string> args, std::size_t& i,
               ParsedCommandLine& out) {
  const std::string_view word = std::string_view(args[i]).substr(2);
  const std::size_t equals = word.find('=');
  const std::string_view name = word.substr(0, equals);
  const OptionSpec* known = findLong(specs, name);
  if (known == nullptr) throw BadUsage("unknown option '--" + std::string(name) + "'");
  if (!known->takesValue) {
    if (equals != std::string_view::npos) {
      throw BadUsage("option '--" + std::string(name) + "' takes no value");
    }
    out.options.push_back({known, {}});
    return;
  }
  if (equals != std::string_view::npos) {
    out.options.push_back({known, std::string(word.substr(equals + 1))});
  } else if (i + 1 < args.size()) {
    out.options.push_back({known, args[++i]});
  } else {
    throw BadUsage("option '--" + std::string(name) + "' needs a value");
  }
}

// A cluster of short options at args[i]; may consume args[i + 1] as the last one's value.
void parseShort(std::span<const OptionSpec> specs, std::span<const std::string> args,
                std::size_t& i, ParsedCommandLine& out) {
  const std::string_view word = args[i];
  for (std::size_t at = 1; at < word.size(); ++at) {
    const OptionSpec* known = findShort(specs, word[at]);
    if (known == nullptr) throw BadUsage("unknown option '-" + std::string(1, word[at]) + "'");
    if (!known->takesValue) {
      out.options.push_back({known, {}});
      continue;
    }
    if (at + 1 < word.size()) {
      out.options.push_back({known, std::string(word.substr(at + 1))});
    } else if (i + 1 < args.size()) {
      out.options.push_back({known, args[++i]});
    } else {
      throw BadUsage("option '-" + std::string(1, word[at]) + "' needs a value");
    }
    return;
  }
}

template <class Int>
Int parseWhole(std::string_view text, std::string_view what) {
  Int value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    throw BadUsage("bad number for " + std::string(what) + ": '" + std::string(text) + "'");
  }
  return value;
}

}  // namespace

ParsedCommandLine parseCommandLine(std::span<const OptionSpec> specs,
                                   std::span<const std::string> args) {
  ParsedCommandLine out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--") {
      out.operands.insert(out.operands.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                          args.end());
      break;
    }
    if (word.starts_with("--")) {
      parseLong(specs, args, i, out);
    } else if (word.size() > 1 && word[0] == '-' && !isDigit(word[1])) {
      parseShort(specs, args, i, out);
    } else {
      out.operands.push_back(word);
    }
  }
  return out;
}

std::int64_t parseInt64(std::string_view text, std::string_view what) {
  return parseWhole<std::int64_t>(text, what);
}

std::uint64_t parseUInt64(std::string_view text, std::string_view what) {
  return parseWhole<std::uint64_t>(text, what);
}

char32_t parseDelimiter(std::string_view text) {
  const std::optional<char32_t> c = decodeOneCharacter(text);
  if (!c) throw BadUsage("the delimiter must be a single character: '" + std::string(text) + "'");
  if (*c == U'\n') throw BadUsage("the delimiter cannot be a newline");
  return *c;
}

}  // namespace tallowmere::cli
