// The program's main work: draw a random fortune, print the fortunes that match a pattern,
// or show which files would be searched and how likely each is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune/Collection.hpp>
#include <tallowmere/Data/Fortune/Types.hpp>

namespace tallowmere::cli {

struct DrawOptions {
  enum class Length { Any, Short, Long };

  FortuneType kind = FortuneType::Normal;  // -a, -o: whose search path and names to use
  bool equal = false;                      // -e: every file equally likely
  Length length = Length::Any;             // -s, -l
  std::int64_t lengthLimit = 160;          // -n: the longest short fortune, in characters
  std::optional<std::string> pattern;      // -m: print the matching fortunes instead
  bool ignoreCase = false;                 // -i
  bool showFile = false;                   // -c
  bool listFiles = false;                  // -f
  bool wait = false;                       // -w: wait after the fortune, to read it
  // Which fortune a draw prints: a random one, the day's (--today), or one not shown before
  // (--fresh).
  enum class Pick { Random, Today, Fresh };
  Pick pick = Pick::Random;
  bool json = false;                  // --json: JSON Lines, one object per fortune or file
  char32_t delimiter = U'%';          // -d
  std::vector<std::string> operands;  // [N%] FILE|DIR ...
};

// Which fortunes the options admit (-s, -l, -n) and how the draws spread over the files (-e).
FortuneFilter filterOf(const DrawOptions& options);

// What tells this collection, drawn with `filter`, from others, for the day's fortune and the
// rounds of --fresh: the kind, the delimiter, the filter, the files in order with their shares.
// The server's /today names the same day's fortune as --today through it.
std::string identityOf(const DrawOptions& options, const FortuneFilter& filter,
                       const Collection& collection);

// The collection that the options (-a, -o, -d) and operands name, as a draw uses it. Throws
// BadUsage for mistakes in the shares, and what Collection::ofOperands throws otherwise.
// `keepInMemory` is CollectionOptions::keepInMemory.
Collection openCollection(const DrawOptions& options, std::size_t keepInMemory = 0);

// Does what the options ask, writing to standard output (and, for -m, the names of the files
// to standard error), through the library's Collection. Returns the exit status: 1 when -m
// matched nothing. Throws BadUsage for a bad pattern or bad shares, the library's IOError (whose
// message names the file) for a file that cannot be found or read or holds no fortune to draw,
// and a std::runtime_error when there is no fortune file. --today and --fresh work with a plain
// draw only: with -m or -f, or together, they are a BadUsage, and so is --fresh with -e or
// shares, which would weigh what it shows once each.
int runDraw(const DrawOptions& options);

}  // namespace tallowmere::cli
