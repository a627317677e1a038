// Byte layout of strfile data files, and the refusal of damaged ones.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include <tallowmere/Data/Fortune/Strfile.hpp>
#include <tallowmere/Platform/Errors.hpp>

namespace tallowmere {
namespace {

using namespace std::string_literals;

// What Debian's strfile wrote for "%\nThe kettle sings at noon.\n%\n%\nMoss keeps no
// calendar.\n\n%\nA short one\n%\n": three fortunes, the empty ones skipped.
const std::string kThreeFortunes =
    "\0\0\0\x02\0\0\0\x03\0\0\0\x1a\0\0\0\x0c\0\0\0\0%\0\0\0"
    "\0\0\0\x02\0\0\0\x20\0\0\0\x3b\0\0\0\x49"s;

template <class Action>
std::string messageOf(Action action) {
  try {
    action();
  } catch (const IOError& e) {
    EXPECT_TRUE(e.isUserError());
    return e.what();
  }
  return "(no error)";
}

std::string decodeError(const std::string& bytes) {
  return messageOf([&] { (void)decodeStrfile(bytes); });
}

TEST(StrfileFormat, DecodesAndEncodesStrfileBytes) {
  const StrfileData data = decodeStrfile(kThreeFortunes);
  EXPECT_EQ(data.header, (StrfileHeader{2, 3, 26, 12, 0, '%'}));
  EXPECT_EQ(data.offsets, (std::vector<std::uint32_t>{2, 32, 59, 73}));
  EXPECT_EQ(encodeStrfile(data), kThreeFortunes);
  // No fortunes: the lengths at their bounds, one offset.
  EXPECT_EQ(encodeStrfile(StrfileData{}),
            "\0\0\0\x02\0\0\0\0\0\0\0\0\xff\xff\xff\xff\0\0\0\0%\0\0\0\0\0\0\0"s);

  // Version 1 has the same layout; padding is ignored and written as zeros.
  std::string bytes = kThreeFortunes;
  bytes[3] = 1;
  bytes[21] = bytes[23] = 'x';
  const StrfileData old = decodeStrfile(bytes);
  EXPECT_EQ(old.header.version, 1u);
  bytes[21] = bytes[23] = '\0';
  EXPECT_EQ(encodeStrfile(old), bytes);
}

TEST(StrfileFormat, RefusesDamagedBytes) {
  EXPECT_NE(decodeError("").find("too few bytes for its header of 24"), std::string::npos);
  EXPECT_NE(decodeError(kThreeFortunes.substr(0, 23)), "(no error)");
  for (char version : {'\0', '\3'}) {
    std::string bytes = kThreeFortunes;
    bytes[3] = version;
    EXPECT_NE(decodeError(bytes).find("version " + std::to_string(version) + " (known: 1 and 2)"),
              std::string::npos);
  }
  // A truncated table, a byte too many, and a count far beyond the bytes (which must not be
  // reserved for): each layout says what it found wrong.
  EXPECT_EQ(decodeError(kThreeFortunes.substr(0, 39)),
            "decodeStrfile: fits no layout of data file in use (with 32-bit offsets (Linux, "
            "OpenBSD): 3 strings take 40 bytes, not 39; with 64-bit offsets (FreeBSD, NetBSD): 3 "
            "strings take 56 bytes, not 39; with 8-byte fields (4.4BSD on 64-bit machines): too "
            "few bytes for its header of 48)");
  EXPECT_NE(decodeError(kThreeFortunes + '\0').find("take 40 bytes, not 41"), std::string::npos);
  std::string huge = kThreeFortunes;
  huge.replace(4, 4, "\xff\xff\xff\xff");
  EXPECT_NE(decodeError(huge).find("4294967295 strings take 17179869208 bytes"), std::string::npos);

  std::string backwards = kThreeFortunes;
  backwards[31] = 60;  // the second offset, now beyond the third (59)
  EXPECT_EQ(decodeError(backwards),
            "decodeStrfile: offset 2 (59) is below offset 1 (60) in a table in text order");
  for (char flag : {'\1', '\2'}) {  // random and ordered tables may be in any order
    backwards[19] = flag;
    EXPECT_EQ(decodeStrfile(backwards).offsets[1], 60u);
  }
}

// The layouts in use, built from their descriptions: each header field of `fieldWidth` bytes
// and each offset of `offsetWidth` holds its value big-endian in its first four bytes
// (`valueFirst`) or its last four, the rest zero; the delimiter follows the five header
// fields, and the header is padded to `headerLength`.
std::string laidOut(const StrfileData& data, std::size_t fieldWidth, std::size_t offsetWidth,
                    bool valueFirst, std::size_t headerLength) {
  const auto field = [&](std::uint32_t value, std::size_t width) {
    std::string bytes(width, '\0');
    const std::size_t at = valueFirst ? 0 : width - 4;
    for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
    return bytes;
  };
  const StrfileHeader& h = data.header;
  std::string out;
  for (const std::uint32_t value :
       {h.version, h.numStrings, h.longestLength, h.shortestLength, h.flags}) {
    out += field(value, fieldWidth);
  }
  out += h.delimiter;
  out.resize(headerLength, '\0');
  for (const std::uint32_t offset : data.offsets) out += field(offset, offsetWidth);
  return out;
}

TEST(StrfileFormat, ReadsEveryLayoutInUseByItsOwnConsistency) {
  const std::string text = "Tide\n%\nSalt and\nwind\n%\nGulls\n";
  StrfileData data = buildStrfile(text);
  const std::string linux32 = laidOut(data, 4, 4, true, 24);
  const std::string openBsd = laidOut({{1, 3, 13, 5, 0, '%'}, data.offsets}, 4, 4, true, 24);
  const std::string freeBsd = laidOut(data, 4, 8, false, 24);
  const std::string halfSwapped = laidOut(data, 8, 8, true, 48);
  EXPECT_EQ(linux32, encodeStrfile(data));
  for (const auto& [bytes, layout] : {std::pair{linux32, StrfileLayout::Offsets32},
                                      {openBsd, StrfileLayout::Offsets32},
                                      {freeBsd, StrfileLayout::Offsets64},
                                      {halfSwapped, StrfileLayout::Longs64}}) {
    const StrfileData decoded = decodeStrfile(bytes);
    EXPECT_EQ(decoded.layout, layout);
    EXPECT_EQ(decoded.offsets, data.offsets);
    EXPECT_EQ(decoded.header.numStrings, 3u);
    EXPECT_EQ(encodeStrfile(decoded), bytes);
    EXPECT_EQ(decodeStrfileHead(bytes.substr(0, strfileHeadLength), bytes.size()).layout, layout);
  }
  // An offset whose upper half is not zero is read as no layout's.
  std::string wide = freeBsd;
  wide[24 + 8 + 3] = 1;
  EXPECT_NE(decodeError(wide).find("offset 1 does not fit 32 bits"), std::string::npos);
  std::string halves = halfSwapped;
  halves[12] = 1;  // the upper half of the count
  EXPECT_NE(decodeError(halves).find("do not end in four zero bytes"), std::string::npos);
}

TEST(StrfileFormat, EncodingAndCheckingRefuseWhatDecodingWould) {
  const StrfileData data = decodeStrfile(kThreeFortunes);
  EXPECT_NO_THROW(checkStrfile(data, 73));
  EXPECT_NO_THROW(checkStrfile(data, 500));  // a text that has grown since
  EXPECT_EQ(messageOf([&] { checkStrfile(data, 72); }),
            "checkStrfile: offset 3 (73) is past the end of the text (72 bytes)");

  StrfileData shortTable = data, unknownVersion = data, backwards = data;
  shortTable.offsets.pop_back();
  unknownVersion.header.version = 3;
  backwards.offsets[0] = 40;
  for (const StrfileData& bad : {shortTable, unknownVersion, backwards}) {
    EXPECT_NE(messageOf([&] { (void)encodeStrfile(bad); }), "(no error)");
    EXPECT_NE(messageOf([&] { checkStrfile(bad, 100); }), "(no error)");
  }
}

// Every fortune but the last takes a newline and a delimiter line, and empty ones are left out:
// a text of S bytes holds at most (S + 2) / 3 of them, and their offsets increase strictly.
TEST(StrfileFormat, CheckingRefusesTablesNoTextOfThatSizeHas) {
  const std::string densest = "\n%\n\n%\n\n";
  StrfileData data = buildStrfile(densest);
  ASSERT_EQ(data.header.numStrings, 3u);
  EXPECT_EQ(maxStrfileStrings(densest.size()), 3u);
  EXPECT_NO_THROW(checkStrfile(data, densest.size()));
  data.header.numStrings = 4;
  data.offsets.insert(data.offsets.begin(), 0);
  EXPECT_EQ(messageOf([&] { checkStrfile(data, densest.size()); }),
            "checkStrfile: 4 strings are more than a text of 7 bytes can hold (3)");
  StrfileData repeated = decodeStrfile(kThreeFortunes);
  repeated.offsets[1] = repeated.offsets[0];
  EXPECT_EQ(messageOf([&] { checkStrfile(repeated, 100); }),
            "checkStrfile: offset 1 (2) does not follow offset 0 (2) in a table in text order");
}

}  // namespace
}  // namespace tallowmere
