// The UTF-8 helpers against a plain loop over decodeUtf8, on texts whose invalid and
// multi-byte sequences sit after ASCII runs of every length (the helpers pass ASCII in words).
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "Data/Fortune/FortuneFile/Utf8.hpp"

namespace tallowmere {
namespace {

struct Plain {
  std::optional<std::size_t> firstInvalid;
  std::string lenient;
  std::int64_t chars = 0;
};

Plain plainly(std::string_view bytes) {
  Plain out;
  for (std::size_t at = 0; at < bytes.size();) {
    const detail::Utf8Char c = detail::decodeUtf8(bytes.substr(at));
    if (!c.valid && !out.firstInvalid) out.firstInvalid = at;
    out.lenient += c.valid ? std::string(bytes.substr(at, c.length)) : "\uFFFD";
    out.chars += 1;
    at += c.length;
  }
  return out;
}

TEST(Utf8, HelpersAgreeWithThePlainLoopAfterAsciiRunsOfEveryLength) {
  const std::vector<std::string> pieces = {"\xFF",         "\x80",         "\xC3\xA9",
                                           "\xE2\x82\xAC", "\xE2\x82",     "\xF0\x9F\x98\x80",
                                           "\xED\xA0\x80", "\xEF\xBF\xBD", "\n"};
  std::mt19937 random(5);
  for (std::size_t run = 0; run < 40; ++run) {
    for (const std::string& piece : pieces) {
      std::string text = std::string(run, 'a') + piece;
      for (std::size_t more = random() % 3; more > 0; --more) {
        text += std::string(random() % 20, 'b') + pieces[random() % pieces.size()];
      }
      const Plain expected = plainly(text);
      EXPECT_EQ(detail::findInvalidUtf8(text), expected.firstInvalid) << run << " " << piece;
      EXPECT_EQ(detail::decodeUtf8Leniently(text), expected.lenient) << run << " " << piece;
      EXPECT_EQ(detail::countUtf8Chars(text), expected.chars) << run << " " << piece;
    }
  }
}

}  // namespace
}  // namespace tallowmere
