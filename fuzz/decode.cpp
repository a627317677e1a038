// Fuzz target: the byte decoders of the index format on arbitrary bytes.
//
// decodeHeader must either decode (64 bytes or more with the right magic number and version;
// the header then encodes back to the same first 36 bytes, the reserved bytes being ignored),
// throw HeaderProblemError for a wrong magic number or version, or throw the user-error
// IOError "too few bytes" for a short input. decodeIndexEntry, tried at positions around the
// end of the input and at positions that overflow, must decode exactly when 16 bytes are
// there, return the position after them and encode back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include <tallowmere/Data/Fortune/Index.hpp>
#include "FuzzSupport.hpp"

namespace tallowmere::fuzz {
namespace {

std::uint32_t bigEndian32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

void checkTooFewBytes(const IOError& e) {
  FUZZ_CHECK(e.isUserError());
  const std::string_view message = e.what();
  FUZZ_CHECK(message.find("too few bytes") != std::string_view::npos);
}

void fuzzHeader(std::string_view bytes) {
  const bool badMagic = bytes.size() >= 4 && bigEndian32(bytes, 0) != indexMagicNumber;
  const bool badVersion =
      !badMagic && bytes.size() >= 8 && bigEndian32(bytes, 4) != indexFormatVersion;
  const bool shortInput = bytes.size() < static_cast<std::size_t>(indexHeaderLength);
  try {
    const Header header = decodeHeader(bytes);
    FUZZ_CHECK(!badMagic && !badVersion && !shortInput);
    const std::string encoded = encodeHeader(header);
    FUZZ_CHECK(encoded.size() == static_cast<std::size_t>(indexHeaderLength));
    FUZZ_CHECK(encoded.substr(0, 36) == bytes.substr(0, 36));
    FUZZ_CHECK(decodeHeader(encoded) == header);
    FUZZ_CHECK(!show(header, 0).empty() && show(header, 11).front() == '(');
  } catch (const HeaderProblemError& e) {
    const HeaderProblem problem = e.headerProblem();
    if (badMagic) {
      FUZZ_CHECK(problem == HeaderProblem::BadMagicNumber(bigEndian32(bytes, 0)));
    } else {
      FUZZ_CHECK(badVersion);
      FUZZ_CHECK(problem == HeaderProblem::UnsupportedVersion(bigEndian32(bytes, 4)));
    }
  } catch (const IOError& e) {
    // A wrong version in a short input may be reported either way.
    FUZZ_CHECK(!badMagic && shortInput);
    checkTooFewBytes(e);
  }
}

void fuzzEntry(std::string_view bytes, std::size_t position) {
  constexpr auto kLength = static_cast<std::size_t>(indexEntryLength);
  const bool fits = position <= bytes.size() && bytes.size() - position >= kLength;
  try {
    const auto [entry, next] = decodeIndexEntry(bytes, position);
    FUZZ_CHECK(fits);
    FUZZ_CHECK(next == position + kLength);
    FUZZ_CHECK(encodeIndexEntry(entry) == bytes.substr(position, kLength));
    FUZZ_CHECK(entry.stringOffset >= 0 && entry.stringBytes >= 0 && entry.stringChars >= 0 &&
               entry.stringLines >= 0);
    FUZZ_CHECK(!show(entry, 11).empty());
  } catch (const IOError& e) {
    FUZZ_CHECK(!fits);
    checkTooFewBytes(e);
  }
}

}  // namespace
}  // namespace tallowmere::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tallowmere;
  using namespace tallowmere::fuzz;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  onlyThrows<>([&] { fuzzHeader(bytes); });

  // Positions: the start, the entries of a table right after a header, the last few possible
  // starts, one beyond the end, one taken from the input, and positions whose sum with 16
  // overflows.
  Controls controls(data, size);
  constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
  const std::size_t positions[] = {0,
                                   64,
                                   80,
                                   size >= 16 ? size - 16 : 0,
                                   size >= 15 ? size - 15 : 0,
                                   size,
                                   size + 1,
                                   controls.u32() % (size + 32),
                                   kMax - 15,
                                   kMax};
  for (const std::size_t position : positions) {
    onlyThrows<>([&] { fuzzEntry(bytes, position); });
  }
  return 0;
}
