// drawFortune, through its own header alone: what a program that only draws sees.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune/Draw.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Collection/CollectionSupport.hpp"

namespace tallowmere {
namespace {

using test::ScopedEnvironment;
using test::TempDir;
using test::writeFortunes;

class DrawFortune : public ::testing::Test {
 protected:
  void SetUp() override { env.isolate(data.path()); }

  TempDir data;
  TempDir dir;
  ScopedEnvironment env;
};

TEST_F(DrawFortune, FromTheNormalKindOrTheOperandsAsFiltered) {
  std::filesystem::create_directories(data.path("data/normal"));
  std::filesystem::create_directories(data.path("data/offensive"));
  const std::string kind = writeFortunes(data, "data/normal/kind", {"Be kind to your parsers."});
  writeFortunes(data, "data/offensive/rude", {"Tabs."});
  const DrawnFortune drawn = drawFortune();
  EXPECT_EQ(drawn, (DrawnFortune{kind, 0, "Be kind to your parsers."}));

  const std::vector<std::string> operands = {
      writeFortunes(dir, "mixed", {std::string(200, 'x'), "Brief."})};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(drawFortune(operands, {.length = LengthFilter::Short}).text, "Brief.");
  }
}

TEST_F(DrawFortune, NothingToDrawSaysWhereItLooked) {
  try {
    (void)drawFortune();
    FAIL() << "drew from an empty collection";
  } catch (const IOError& error) {
    EXPECT_EQ(error.reason(), ErrorReason::NothingToDraw);
    EXPECT_EQ(std::string(error.what()),
              "no fortune files to draw from: looked in the data "
              "directory (" +
                  data.path() +
                  "/data/normal) and the "
                  "classic collection (" +
                  data.path() + "/no-classic-collection)");
  }
  const std::vector<std::string> missing = {dir.path("missing")};
  EXPECT_THROW((void)drawFortune(missing), IOError);
}

}  // namespace
}  // namespace tallowmere
