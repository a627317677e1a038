// Drawing a fortune: the one header a program that only draws needs.
//
// It is cheap to include: it brings in the standard <string> and <span> and nothing else of the
// library, about a quarter of what the whole library's headers (Data/Fortune.hpp) cost to
// compile (tests/IncludeCost.cmake keeps it below a third). drawFortune
// makes its collection anew at every call, which suits a program that draws once (a fortune
// at login); a program that draws many times, searches or counts keeps a Collection
// (Collection.hpp, which includes this header), and so does one that wants the offensive or
// all fortunes (CollectionOptions::kind).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

// Which fortunes a draw, a visit or a count admits. Empty fortunes never are.
enum class LengthFilter {
  Any,
  Short,  // at most lengthLimit characters
  Long,   // more than lengthLimit characters
};

// How the draws are spread over the files.
enum class Weighting {
  ByFortune,  // every admitted fortune equally likely (within each share)
  ByFile,     // every file with an admitted fortune equally likely (within each share)
};

struct TALLOWMERE_API FortuneFilter {
  LengthFilter length = LengthFilter::Any;
  std::int64_t lengthLimit = 160;  // in characters
  Weighting weighting = Weighting::ByFortune;

  // Whether a fortune of this many characters is admitted.
  [[nodiscard]] bool admits(std::int64_t characters) const noexcept;
  friend bool operator==(const FortuneFilter&, const FortuneFilter&) = default;
};

// A fortune drawn from a collection: which file, which number and its text, invalid UTF-8 read
// as U+FFFD. Numbers are those of the table the file is read through: its index's (as getFortune
// numbers them), or for a file read through a classic data file, that table's, which lists no
// empty fortune. Collection::read and `tallowmere get PATH N` read them back.
struct TALLOWMERE_API DrawnFortune {
  std::string path;
  std::int64_t number = 0;
  std::string text;

  friend bool operator==(const DrawnFortune&, const DrawnFortune&) = default;
};

// One fortune drawn as the filter says from what command-line operands stand for, as the
// `tallowmere` command takes them: "[N%] FILE|DIR|NAME ..." (Collection::ofOperands). No
// operand: the normal fortunes that `tallowmere` draws from, along their search path, else the
// classic collection. Throws IOErrors (Platform/Errors.hpp; what() names the file, reason()
// says what went wrong): NothingToDraw when there is no fortune file, or no fortune that the
// filter admits; BadArgument for bad shares; NotFound for an operand that names nothing; and
// the failure to read a file that an operand names.
[[nodiscard]] TALLOWMERE_API DrawnFortune drawFortune(std::span<const std::string> operands = {},
                                                      const FortuneFilter& filter = {});

}  // namespace tallowmere
