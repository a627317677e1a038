// Building strfile data from a text: the bytes Debian's strfile writes for the same text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include <tallowmere/Data/Fortune/Strfile.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

std::string built(std::string_view text, StrfileOptions options = {}) {
  return encodeStrfile(buildStrfile(text, options));
}

StrfileData data(StrfileHeader header, std::vector<std::uint32_t> offsets) {
  return {header, std::move(offsets)};
}

// Each expected value is what strfile wrote for the text with the options named.
TEST(StrfileBuild, MatchesStrfile) {
  // Empty fortunes skipped: a delimiter line first, two in a row, one last.
  EXPECT_EQ(buildStrfile("%\nThe kettle sings at noon.\n%\n%\nMoss keeps no calendar.\n\n%\n"
                         "A short one\n%\n"),
            data({2, 3, 26, 12, 0, '%'}, {2, 32, 59, 73}));
  // No final newline: the last fortune ends with the text. No delimiter line: one fortune.
  EXPECT_EQ(buildStrfile("Rain on the tin roof\n%\nends without a newline"),
            data({2, 2, 22, 21, 0, '%'}, {0, 23, 45}));
  EXPECT_EQ(buildStrfile("Just one saying.\n"), data({2, 1, 17, 17, 0, '%'}, {0, 17}));
  EXPECT_EQ(buildStrfile(""), StrfileData{});
  // -c '#': a line of '%' is content. -x: only the flag; the text is taken as stored.
  EXPECT_EQ(buildStrfile("Lanterns\n#\nPebbles and %\n%\nstill one\n#\n", {'#', 0, false}),
            data({2, 2, 26, 9, 0, '#'}, {0, 11, 39}));
  EXPECT_EQ(buildStrfile("Uryyb gurer\n%\nTbbqolr\n", {'%', StrfileHeader::rotated, false}),
            data({2, 2, 12, 8, 4, '%'}, {0, 14, 22}));
  // -o, then -o -i: leading punctuation and spaces skipped, upper case first unless folded.
  const std::string_view sweets =
      "banana bread\n%\n...Apple tart\n%\n  cherry jam\n%\napple cider\n%\nBanana split\n";
  EXPECT_EQ(buildStrfile(sweets, {'%', StrfileHeader::ordered, false}),
            data({2, 5, 14, 12, 2, '%'}, {15, 60, 46, 0, 31, 73}));
  EXPECT_EQ(buildStrfile(sweets, {'%', StrfileHeader::ordered, true}),
            data({2, 5, 14, 12, 2, '%'}, {46, 15, 0, 60, 31, 73}));
}

std::vector<std::uint32_t> order(std::string_view text, bool ignoreCase = false) {
  std::vector<std::uint32_t> offsets =
      buildStrfile(text, {'%', StrfileHeader::ordered, ignoreCase}).offsets;
  offsets.pop_back();
  return offsets;
}

TEST(StrfileBuild, OrdersByKeyWithStrfilesTies) {
  // Equal keys stay in text order, except that a key ending with the text sorts first.
  EXPECT_EQ(order("same\n%\nsame\n%\nsame\n"), (std::vector<std::uint32_t>{14, 0, 7}));
  EXPECT_EQ(order("same\n%\nsame\n%\n"), (std::vector<std::uint32_t>{0, 7}));
  // A line starting with the delimiter ends the key; a NUL byte ties with a key's end.
  EXPECT_EQ(order("ab\n%y\n%\nab\n%x\n%\n"), (std::vector<std::uint32_t>{0, 8}));
  EXPECT_EQ(order(std::string_view("ab\n\0\n%\nab\n%\n", 12)), (std::vector<std::uint32_t>{0, 7}));
  EXPECT_EQ(order("Q2\n%\nq1\n%\n", true), (std::vector<std::uint32_t>{5, 0}));
  // Bytes compare unsigned, and the first line without a letter or digit is passed over.
  EXPECT_EQ(order("a\xc3\xa9\n%\naz\n%\n"), (std::vector<std::uint32_t>{6, 0}));
  EXPECT_EQ(order("--\n-- zed\n%\nyes\n%\n"), (std::vector<std::uint32_t>{12, 0}));
}

TEST(StrfileBuild, RandomKeepsTextOrderAndGivesWayToOrdered) {
  const std::string_view text = "two\n%\none\n";
  EXPECT_EQ(buildStrfile(text, {'%', StrfileHeader::random, false}),
            data({2, 2, 4, 4, 1, '%'}, {0, 6, 10}));
  EXPECT_EQ(buildStrfile(text, {'%', StrfileHeader::random | StrfileHeader::ordered, false}),
            data({2, 2, 4, 4, 2, '%'}, {6, 0, 10}));
  EXPECT_THROW((void)buildStrfile(text, {'%', StrfileHeader::comments, false}), IOError);
}

TEST(StrfileBuild, ReadsWholeLinesThroughAFileInChunks) {
  // A delimiter line across the first 64 KiB chunk boundary, then lines up to 600 bytes that
  // end in the delimiter (content, however long).
  std::string text = std::string(65534, 'x') + "\n%\n";
  std::uint32_t count = 1;
  std::size_t longest = 65535;
  for (std::uint32_t i = 1; text.size() < 200000; ++i, ++count) {
    const std::string fortune =
        std::string(1 + (i * 37) % 600, 'w') + "%\n" + std::to_string(i) + "\n";
    longest = std::max(longest, fortune.size());
    text += fortune + "%\n";
  }
  auto file = createMemoryFile("sayings");
  file->write(text);
  for (std::uint32_t flags : {0u, StrfileHeader::ordered}) {
    const StrfileData fromFile = buildStrfile(*file, {'%', flags, false});
    EXPECT_EQ(fromFile, buildStrfile(text, {'%', flags, false}));
    EXPECT_EQ(fromFile.header.numStrings, count);
    EXPECT_EQ(fromFile.header.longestLength, longest);
    EXPECT_EQ(fromFile.offsets.back(), text.size());
  }
}

// Runs Debian's strfile on the text with the options given.
std::string strfileBytes(const test::TempDir& dir, std::string_view text,
                         const std::string& options) {
  const std::string input = dir.writeFile("text", text);
  const std::string command =
      "/usr/bin/strfile -s " + options + " " + input + " " + input + ".dat >/dev/null";
  return std::system(command.c_str()) == 0 ? dir.readFile("text.dat") : "(strfile failed)";
}

TEST(StrfileBuild, MatchesTheInstalledStrfile) {
  if (access("/usr/bin/strfile", X_OK) != 0) GTEST_SKIP() << "strfile is not installed";
  // Sayings of a few lines in mixed case, some after leading punctuation or an empty
  // fortune; each has a letter in its first line.
  std::string text;
  std::uint32_t state = 7;
  const char* words[] = {"owl", "Lamp", "river", "Stone", "quiet", "ember", "Wind", "salt", "a"};
  for (int i = 0; i < 400; ++i) {
    state = state * 1103515245 + 12345;
    text += (state >> 20) % 5 == 0 ? "-- " : "";
    for (std::uint32_t w = 0; w < 2 + (state >> 8) % 40; ++w) {
      text += words[(state >> (w % 16)) % 9];
      text += (w + state) % 9 == 0 ? "\n" : " ";
    }
    text += (state >> 12) % 7 == 0 ? "\n%\n%\n" : "\n%\n";
  }
  text += "the end, no newline";
  const test::TempDir dir;
  EXPECT_EQ(built(text), strfileBytes(dir, text, ""));
  EXPECT_EQ(built(text, {'%', StrfileHeader::rotated, false}), strfileBytes(dir, text, "-x"));
  EXPECT_EQ(built(text, {'%', StrfileHeader::ordered, false}), strfileBytes(dir, text, "-o"));
  EXPECT_EQ(built(text, {'%', StrfileHeader::ordered, true}), strfileBytes(dir, text, "-o -i"));
  EXPECT_EQ(built(text, {'a', 0, false}), strfileBytes(dir, text, "-c a"));
}

}  // namespace
}  // namespace tallowmere
