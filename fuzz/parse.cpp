// Fuzz target: the text forms of the problem types and of FortuneType.
//
// Two directions. Arbitrary text is read as each type; a value that parses must show back, at
// precedence 0 and at precedence 11, to a text that reads as the same value. And a value built
// from the input's bytes (any variant, any payload) must read back from its own text forms.
// Reading never throws: a text that does not parse gives no value.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <tallowmere/Data/Fortune/Index.hpp>
#include <tallowmere/Data/Fortune/Types.hpp>
#include "FuzzSupport.hpp"

namespace tallowmere::fuzz {
namespace {

template <class T>
void checkShowsBack(const T& value) {
  for (const int precedence : {0, 11}) {
    const std::string text = show(value, precedence);
    const std::optional<T> again = read<T>(text);
    if (!again || !(*again == value)) {
      std::fprintf(stderr, "text form does not read back: \"%s\"\n", text.c_str());
      std::abort();
    }
  }
}

// A value parsed from arbitrary text shows back to the same value.
template <class T>
void fuzzRead(std::string_view text) {
  if (const std::optional<T> value = read<T>(text)) checkShowsBack(*value);
}

std::int64_t i64(Controls& in) {
  const std::uint64_t high = in.u32();
  return static_cast<std::int64_t>(high << 32 | in.u32());
}

StatsProblem makeStatsProblem(Controls& in) {
  switch (in.byte() % 7) {
    case 0:
      return StatsProblem::NegativeCount(i64(in));
    case 1:
      return StatsProblem::NegativeLength(i64(in));
    case 2:
      return StatsProblem::NegativeOffset(i64(in));
    case 3:
      return StatsProblem::LengthsWithoutEntries();
    case 4:
      return StatsProblem::EntriesWithoutLengths();
    case 5:
      return StatsProblem::MaxLengthLessThanMinLength();
    default:
      return StatsProblem::InconsistentLengthsForOneEntry();
  }
}

HeaderProblem makeHeaderProblem(Controls& in) {
  switch (in.byte() % 4) {
    case 0:
      return HeaderProblem::BadMagicNumber(in.u32());
    case 1:
      return HeaderProblem::UnsupportedVersion(in.u32());
    case 2:
      return HeaderProblem::StatsProblem(makeStatsProblem(in));
    default:
      return HeaderProblem::TableStartsBeforeHeaderEnds();
  }
}

IndexProblem makeIndexProblem(Controls& in) {
  switch (in.byte() % 3) {
    case 0:
      return IndexProblem::HeaderProblem(makeHeaderProblem(in));
    case 1:
      return IndexProblem::TableLongerThanFile();
    default:
      return IndexProblem::AccessToClosedIndex();
  }
}

std::vector<FortuneType> makeTypes(Controls& in) {
  std::vector<FortuneType> types(in.byte() % 5);
  for (FortuneType& type : types) type = toEnum<FortuneType>(in.byte() % 3);
  return types;
}

}  // namespace
}  // namespace tallowmere::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tallowmere;
  using namespace tallowmere::fuzz;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  onlyThrows<>([&] {
    fuzzRead<StatsProblem>(text);
    fuzzRead<HeaderProblem>(text);
    fuzzRead<IndexProblem>(text);
    fuzzRead<FortuneType>(text);
    fuzzRead<std::vector<FortuneType>>(text);

    Controls controls(data, size);
    checkShowsBack(makeStatsProblem(controls));
    checkShowsBack(makeHeaderProblem(controls));
    checkShowsBack(makeIndexProblem(controls));
    checkShowsBack(makeTypes(controls));
  });
  return 0;
}
