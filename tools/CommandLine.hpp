// The command line of the tallowmere program: options and operands, numbers, characters.
//
// Options follow the GNU conventions: they may stand anywhere before "--"; "-abc" is "-a -b
// -c"; an option that takes a value reads it from the rest of its word or from the next word
// ("-n40", "-n 40", "--length=40", "--length 40"). A lone "-", a word such as "-1" (a
// negative number) and everything after "--" are operands. Every mistake is a BadUsage,
// which the program reports with a pointer to --help and the exit status 2.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <tallowmere/Data/Fortune/Utf8.hpp>

namespace tallowmere::cli {

// A mistake in how the program was called (not in the files it reads).
class BadUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionSpec {
  char shortName;             // '\0' for an option that has only a long form
  std::string_view longName;  // without the leading "--"
  bool takesValue;
};

struct ParsedOption {
  const OptionSpec* definition;
  std::string value;  // empty for an option that takes no value
};

struct ParsedCommandLine {
  std::vector<ParsedOption> options;  // in command-line order
  std::vector<std::string> operands;  // in command-line order
};

// Splits `args` into options (each matched against `specs`) and operands. Throws BadUsage for
// an unknown option, a missing value, or a value given to a long option that takes none.
ParsedCommandLine parseCommandLine(std::span<const OptionSpec> specs,
                                   std::span<const std::string> args);

// A whole decimal number; `what` names it in the BadUsage thrown for anything else
// ("bad number for --length: 'x'").
std::int64_t parseInt64(std::string_view text, std::string_view what);
std::uint64_t parseUInt64(std::string_view text, std::string_view what);

// The one character that `text` encodes in UTF-8; BadUsage for anything else. A newline
// cannot delimit fortunes, so it is refused as well.
char32_t parseDelimiter(std::string_view text);

}  // namespace tallowmere::cli
