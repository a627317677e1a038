#include "Json.hpp"

#include <gtest/gtest.h>

namespace tallowmere::cli {
namespace {

TEST(JsonWriter, PlacesCommasAndColonsInNestedValues) {
  JsonWriter json;
  json.beginObject().member("a", 1).key("b").beginArray().value(true).null().value(-2.5);
  json.beginObject().endObject().endArray().member("c", "x").endObject();
  EXPECT_EQ(json.text(), R"({"a":1,"b":[true,null,-2.5,{}],"c":"x"})");
}

TEST(JsonWriter, EscapesWhatJsonRequiresAndRepairsInvalidUtf8) {
  std::string out;
  appendJsonString(out, std::string("q\"b\\\n\t\x01\x1f/\xc3\xa9", 12));
  EXPECT_EQ(out, "\"q\\\"b\\\\\\n\\t\\u0001\\u001f/\xc3\xa9\\u0000\"");
  out.clear();
  appendJsonString(out,
                   "a\xff"
                   "b");
  EXPECT_EQ(out,
            "\"a\xef\xbf\xbd"
            "b\"");
}

TEST(JsonWriter, DescribesAFortuneByCharactersAndLines) {
  JsonWriter json;
  writeFortune(json, "/f", 3, "\xc3\xa9t\xc3\xa9\nend");
  EXPECT_EQ(json.text(), R"({"file":"/f","number":3,"text":"été\nend","characters":7,"lines":2})");
  EXPECT_EQ(countLines(""), 0);
  EXPECT_EQ(countLines("one\n"), 1);
  EXPECT_EQ(countLines("one\n\nthree"), 3);
}

}  // namespace
}  // namespace tallowmere::cli
