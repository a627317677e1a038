// Byte layout of index headers and entries.
#include <gtest/gtest.h>

#include <string>

#include <tallowmere/Data/Fortune/Index.hpp>

namespace tallowmere {
namespace {

std::string hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string unhex(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 3) {
    out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
  }
  return out;
}

std::string messageOf(const std::string& bytes) {
  try {
    (void)decodeHeader(bytes);
  } catch (const IOError& e) {
    EXPECT_TRUE(e.isUserError());
    return e.what();
  }
  return "(decoded)";
}

TEST(IndexFormat, EmptyHeaderEncodesAsStoredBytesAndReadsBackAsThirtyTwoBitValues) {
  const std::string bytes = encodeHeader(emptyHeader);
  std::string expected =
      "0B DC BC DB 00 00 00 02 00 00 00 40 00 00 00 00 00 00 00 00 FF FF FF FF 00 00 00 00 "
      "FF FF FF FF 00 00 00 00";
  for (int i = 0; i < 28; ++i) expected += " 00";
  EXPECT_EQ(hex(bytes), expected);
  const Header back = decodeHeader(bytes);
  EXPECT_EQ(back.indexLoc, 64);
  EXPECT_EQ(back.stats, (FortuneStats{0, 0, 4294967295, 0, 4294967295, 0}));
  EXPECT_EQ(checkStats(back.stats), StatsProblem::LengthsWithoutEntries());
}

TEST(IndexFormat, HeaderFieldsAreStoredMaximumBeforeMinimumAndRoundTrip) {
  const Header header{{2, 130, 40, 90, 1, 3}, 64};
  const std::string bytes = encodeHeader(header);
  ASSERT_EQ(bytes.size(), 64u);
  EXPECT_EQ(hex(bytes.substr(8, 28)),
            "00 00 00 40 00 00 00 02 00 00 00 5A 00 00 00 28 00 00 00 03 00 00 00 01 00 00 00 82");
  EXPECT_EQ(decodeHeader(bytes), header);
}

TEST(IndexFormat, EntriesKeepTheLowThirtyTwoBitsAndReadBackZeroExtended) {
  EXPECT_EQ(hex(encodeIndexEntry({0, 42, 40, 3})),
            "00 00 00 00 00 00 00 2A 00 00 00 28 00 00 00 03");
  const std::string stored = encodeIndexEntry({7, 1, -1, 0x100000002});
  EXPECT_EQ(hex(stored), "00 00 00 07 00 00 00 01 FF FF FF FF 00 00 00 02");
  const auto [entry, next] = decodeIndexEntry("xx" + stored, 2);
  EXPECT_EQ(entry, (IndexEntry{7, 1, 4294967295, 2}));
  EXPECT_EQ(next, 18u);
}

TEST(IndexFormat, WrongMagicNumberIsReportedBeforeLength) {
  try {
    (void)decodeHeader(std::string("\0\0\0\0", 4));
    FAIL() << "decoded";
  } catch (const HeaderProblemError& e) {
    EXPECT_EQ(e.headerProblem(), HeaderProblem::BadMagicNumber(0));
    EXPECT_STREQ(e.what(), "BadMagicNumber 0");
  }
}

TEST(IndexFormat, VersionsOtherThanTwoAreUnsupported) {
  for (std::uint32_t version : {1u, 3u}) {
    std::string bytes = encodeHeader(emptyHeader);
    bytes[7] = static_cast<char>(version);
    try {
      (void)decodeHeader(bytes);
      FAIL() << "decoded version " << version;
    } catch (const HeaderProblemError& e) {
      EXPECT_EQ(e.headerProblem(), HeaderProblem::UnsupportedVersion(version));
    }
  }
}

TEST(IndexFormat, ShortInputFailsWithTooFewBytes) {
  const std::string full = encodeHeader(emptyHeader);
  for (std::size_t length : {0u, 3u, 7u, 35u, 63u}) {
    const std::string message = messageOf(full.substr(0, length));
    EXPECT_NE(message.find("too few bytes"), std::string::npos) << length << ": " << message;
    EXPECT_NE(message.find("demandInput"), std::string::npos) << message;
  }
  EXPECT_EQ(messageOf(full + "trailing bytes are ignored"), "(decoded)");
  try {
    (void)decodeIndexEntry(std::string(15, '\0'), 0);
    FAIL() << "decoded a short entry";
  } catch (const IOError& e) {
    EXPECT_NE(std::string(e.what()).find("too few bytes"), std::string::npos);
  }
  EXPECT_THROW((void)decodeIndexEntry(std::string(16, '\0'), 17), IOError);
}

TEST(IndexFormat, DecodingAcceptsAnyFieldValues) {
  const Header odd{{7, 1, 9, 2, 0, 0}, 10};
  EXPECT_EQ(decodeHeader(encodeHeader(odd)), odd);
  EXPECT_EQ(decodeHeader(unhex(hex(encodeHeader(odd)))), odd);
}

TEST(IndexFormat, EntryStatisticsDescribeOneFortune) {
  EXPECT_EQ(indexEntryStats({100, 20, 18, 2}), (FortuneStats{1, 120, 18, 18, 2, 2}));
}

TEST(IndexFormat, RecordTextForms) {
  EXPECT_EQ(
      show(emptyHeader),
      "Header {stats = FortuneStats {numFortunes = Sum {getSum = 0}, offsetAfter = Max "
      "{getMax = -9223372036854775808}, minChars = Min {getMin = 9223372036854775807}, "
      "maxChars = Max {getMax = -9223372036854775808}, minLines = Min {getMin = "
      "9223372036854775807}, maxLines = Max {getMax = -9223372036854775808}}, indexLoc = 64}");
  EXPECT_EQ(show(IndexEntry{0, 42, 40, 3}),
            "IndexEntry {stringOffset = 0, stringBytes = 42, stringChars = 40, stringLines = 3}");
  EXPECT_EQ(show(IndexEntry{-1, 0, 0, 0}, 11),
            "(IndexEntry {stringOffset = -1, stringBytes = 0, stringChars = 0, stringLines = 0})");
}

TEST(IndexFormat, EntriesOrderLexicographically) {
  EXPECT_LT((IndexEntry{0, 9, 9, 9}), (IndexEntry{1, 0, 0, 0}));
  EXPECT_LT((IndexEntry{1, 2, 3, -4}), (IndexEntry{1, 2, 3, 4}));
}

}  // namespace
}  // namespace tallowmere
