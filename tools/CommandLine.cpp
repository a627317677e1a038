#include "CommandLine.hpp"

#include <charconv>
#include <system_error>

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
void parseLong(std::span<const OptionSpec> specs, std::span<const std::string> args,
               std::size_t& i, ParsedCommandLine& out) {
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

struct Decoded {
  char32_t value;
  std::size_t length;  // 0 when the bytes at the start are not a well-formed character
};

Decoded decodeOne(std::string_view bytes) {
  const auto byte = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (lead < 0x80) return {lead, 1};
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, value = lead & 0x1Fu, minimum = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, value = lead & 0x0Fu, minimum = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, value = lead & 0x07u, minimum = 0x10000;
  else return {0, 0};
  if (bytes.size() < length) return {0, 0};
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0u) != 0x80) return {0, 0};
    value = (value << 6) | (byte(i) & 0x3Fu);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {0, 0};
  return {value, length};
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

bool isValidUtf8(std::string_view bytes) {
  while (!bytes.empty()) {
    const Decoded c = decodeOne(bytes);
    if (c.length == 0) return false;
    bytes.remove_prefix(c.length);
  }
  return true;
}

char32_t parseDelimiter(std::string_view text) {
  const Decoded c = text.empty() ? Decoded{0, 0} : decodeOne(text);
  if (c.length == 0 || c.length != text.size()) {
    throw BadUsage("the delimiter must be a single character: '" + std::string(text) + "'");
  }
  if (c.value == U'\n') throw BadUsage("the delimiter cannot be a newline");
  return c.value;
}

std::string encodeUtf8(char32_t c) {
  const auto unit = [](std::uint32_t bits) { return static_cast<char>(bits); };
  const auto code = static_cast<std::uint32_t>(c);
  if (code < 0x80) return {unit(code)};
  if (code < 0x800) return {unit(0xC0 | (code >> 6)), unit(0x80 | (code & 0x3F))};
  if (code < 0x10000) {
    return {unit(0xE0 | (code >> 12)), unit(0x80 | ((code >> 6) & 0x3F)),
            unit(0x80 | (code & 0x3F))};
  }
  return {unit(0xF0 | (code >> 18)), unit(0x80 | ((code >> 12) & 0x3F)),
          unit(0x80 | ((code >> 6) & 0x3F)), unit(0x80 | (code & 0x3F))};
}

}  // namespace tallowmere::cli
