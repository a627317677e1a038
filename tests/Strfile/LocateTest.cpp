// Finding a fortune of strfile data in its text, as `fortune` prints it.
#include <gtest/gtest.h>

#include <string>

#include "Data/Fortune/Strfile.hpp"
#include "Platform/Errors.hpp"

namespace tallowmere {
namespace {

std::string fortuneText(const StrfileData& data, std::uint32_t number, std::string_view text) {
  const StrfileSpan span = locateStrfileFortune(data, number, text);
  return std::string(text.substr(span.offset, span.length));
}

TEST(StrfileLocate, FortunesEndBeforeTheirDelimiterLine) {
  const std::string_view text = "%\nPond\n%x\n%\n%\nHeron\n\n%\nReeds\n%";
  const StrfileData data = buildStrfile(text);
  ASSERT_EQ(data.header.numStrings, 3u);
  EXPECT_EQ(fortuneText(data, 0, text), "Pond\n%x\n");
  EXPECT_EQ(fortuneText(data, 1, text), "Heron\n\n");
  // A delimiter without a newline at the end of the text is content.
  EXPECT_EQ(fortuneText(data, 2, text), "Reeds\n%");

  auto file = createMemoryFile("pond");
  file->write(text);
  EXPECT_EQ(locateStrfileFortune(data, 2, *file), (StrfileSpan{23, 7}));
}

TEST(StrfileLocate, LinesCountFromTheOffsetAsFortuneReadsThem) {
  // Offsets as another program may have written them: mid-line, at the end, past the end.
  const std::string_view text = "ab%\ncd\n%\nef\n";
  StrfileData data;
  data.header.numStrings = 4;
  data.header.flags = StrfileHeader::random;
  data.offsets = {2, 0, 12, 13, 12};
  EXPECT_EQ(locateStrfileFortune(data, 0, text), (StrfileSpan{2, 0}));
  EXPECT_EQ(locateStrfileFortune(data, 1, text), (StrfileSpan{0, 7}));
  EXPECT_EQ(locateStrfileFortune(data, 2, text), (StrfileSpan{12, 0}));
  try {
    locateStrfileFortune(data, 3, text);
    FAIL() << "located";
  } catch (const IOError& e) {
    EXPECT_STREQ(e.what(),
                 "locateStrfileFortune: fortune 3 starts at byte 13, past the end of the text "
                 "(12 bytes)");
  }
  EXPECT_THROW(locateStrfileFortune(data, 4, text), IOError);
}

TEST(StrfileLocate, Rot13TurnsOnlyAsciiLetters) {
  EXPECT_EQ(rot13("Uryyb, Jbeyq! 123 \xc3\xa9 [z]"), "Hello, World! 123 \xc3\xa9 [m]");
  EXPECT_EQ(rot13("AZaz@[`{"), "NMnm@[`{");
}

}  // namespace
}  // namespace tallowmere
