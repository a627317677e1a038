// The C interface as a C program sees it: statuses and the thread's last error, collections
// drawn from and searched, fortune files written and read, and calls that would throw.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <tallowmere/tallowmere.h>
#include <tallowmere/Paths_tallowmere.hpp>
#include "Collection/CollectionSupport.hpp"
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

using test::TempDir;
using ::testing::HasSubstr;

struct Free {
  void operator()(void* pointer) const { tm_free(pointer); }
};
using Fortune = std::unique_ptr<tm_fortune, Free>;

struct CloseCollection {
  void operator()(tm_collection* collection) const { tm_collection_close(collection); }
};
using CollectionHandle = std::unique_ptr<tm_collection, CloseCollection>;

struct CloseFile {
  void operator()(tm_fortune_file* file) const { EXPECT_EQ(tm_fortune_file_close(file), TM_OK); }
};
using FileHandle = std::unique_ptr<tm_fortune_file, CloseFile>;

CollectionHandle openOperands(const std::vector<std::string>& operands) {
  std::vector<const char*> words;
  for (const std::string& operand : operands) words.push_back(operand.c_str());
  tm_collection* collection = nullptr;
  EXPECT_EQ(tm_collection_open_operands(TM_KIND_NORMAL, words.data(), words.size(), &collection),
            TM_OK)
      << tm_last_error_message();
  return CollectionHandle(collection);
}

FileHandle openFile(const std::string& path, tm_access access) {
  tm_fortune_file* file = nullptr;
  EXPECT_EQ(tm_fortune_file_open(path.c_str(), access, 0, &file), TM_OK) << tm_last_error_message();
  return FileHandle(file);
}

std::vector<std::string> visitAll(const tm_collection* collection, const char* pattern,
                                  tm_visit* stopped, std::size_t stopAfter = 0) {
  struct Context {
    std::vector<std::string> texts;
    std::size_t stopAfter;
  } context{{}, stopAfter};
  auto visitor = [](const tm_fortune* fortune, void* data) {
    auto& seen = *static_cast<Context*>(data);
    seen.texts.emplace_back(fortune->text, fortune->text_length);
    return seen.texts.size() == seen.stopAfter ? TM_VISIT_STOP : TM_VISIT_CONTINUE;
  };
  const tm_status status =
      pattern == nullptr ? tm_collection_visit(collection, nullptr, visitor, &context, stopped)
                         : tm_collection_visit_matches(collection, pattern, TM_CASE_INSENSITIVE,
                                                       nullptr, visitor, &context, stopped);
  EXPECT_EQ(status, TM_OK) << tm_last_error_message();
  return context.texts;
}

class CCollection : public ::testing::Test {
 protected:
  TempDir dir;
  const std::string sayings = dir.writeFile(
      "sayings", "Short and sweet.\n%\n\n%\nThe kettle knows.\n%\n" + std::string(200, 'x') + "\n");
};

TEST_F(CCollection, DrawsWithAFilterAndRepeatsASeededDraw) {
  const CollectionHandle collection = openOperands({sayings});
  size_t files = 0;
  ASSERT_EQ(tm_collection_file_count(collection.get(), &files), TM_OK);
  EXPECT_EQ(files, 1U);

  const tm_filter longOnes{TM_LENGTH_LONG, 0, TM_WEIGHT_BY_FORTUNE};
  tm_fortune* drawn = nullptr;
  ASSERT_EQ(tm_collection_draw(collection.get(), &longOnes, nullptr, &drawn), TM_OK);
  const Fortune longOne(drawn);
  EXPECT_EQ(std::string(longOne->path), sayings);
  EXPECT_EQ(longOne->number, 3);
  EXPECT_EQ(std::string(longOne->text), std::string(200, 'x'));

  const uint64_t seed = 42;
  std::set<std::string> seeded;
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(tm_collection_draw(collection.get(), nullptr, &seed, &drawn), TM_OK);
    seeded.insert(Fortune(drawn)->text);
  }
  EXPECT_EQ(seeded.size(), 1U);

  ASSERT_EQ(tm_collection_read(collection.get(), sayings.c_str(), 2, &drawn), TM_OK);
  EXPECT_STREQ(Fortune(drawn)->text, "The kettle knows.");
  int64_t count = 0;
  ASSERT_EQ(tm_collection_count(collection.get(), nullptr, &count), TM_OK);
  EXPECT_EQ(count, 3);  // the empty fortune is not counted
}

TEST_F(CCollection, TheCollectionOfAKindFollowsItsSearchPath) {
  test::ScopedEnvironment environment;
  environment.isolate(dir.path("no-data"));
  environment.set("TALLOWMERE_PATH", dir.path());
  tm_collection* opened = nullptr;
  ASSERT_EQ(tm_collection_open(TM_KIND_NORMAL, &opened), TM_OK) << tm_last_error_message();
  const CollectionHandle collection(opened);
  const tm_filter shortOnes{TM_LENGTH_SHORT, 16, TM_WEIGHT_BY_FILE};
  tm_fortune* drawn = nullptr;
  ASSERT_EQ(tm_collection_draw(collection.get(), &shortOnes, nullptr, &drawn), TM_OK);
  EXPECT_STREQ(Fortune(drawn)->text, "Short and sweet.");
  const tm_filter negative{TM_LENGTH_SHORT, -1, TM_WEIGHT_BY_FORTUNE};
  EXPECT_EQ(tm_collection_draw(collection.get(), &negative, nullptr, &drawn), TM_ERR_USAGE);
}

TEST_F(CCollection, VisitsEveryFortuneOrEveryMatchUntilTheVisitorStops) {
  const CollectionHandle collection = openOperands({sayings});
  tm_visit stopped = TM_VISIT_STOP;
  EXPECT_EQ(visitAll(collection.get(), nullptr, &stopped).size(), 3U);
  EXPECT_EQ(stopped, TM_VISIT_CONTINUE);
  EXPECT_THAT(visitAll(collection.get(), nullptr, &stopped, 1),
              ::testing::ElementsAre("Short and sweet."));
  EXPECT_EQ(stopped, TM_VISIT_STOP);
  EXPECT_THAT(visitAll(collection.get(), "KETTLE", nullptr),
              ::testing::ElementsAre("The kettle knows."));
}

TEST_F(CCollection, FailuresAreStatusesWithTheThreadsLastError) {
  tm_collection* collection = nullptr;
  const std::string missing = dir.path("missing");
  const char* operand = missing.c_str();
  EXPECT_EQ(tm_collection_open_operands(TM_KIND_NORMAL, &operand, 1, &collection),
            TM_ERR_NOT_FOUND);
  EXPECT_EQ(collection, nullptr);
  EXPECT_EQ(tm_last_error_status(), TM_ERR_NOT_FOUND);
  EXPECT_THAT(tm_last_error_message(), HasSubstr("missing"));

  const char* shares[] = {"120%", sayings.c_str()};
  EXPECT_EQ(tm_collection_open_operands(TM_KIND_NORMAL, shares, 2, &collection),
            TM_ERR_BAD_ARGUMENT);

  const CollectionHandle opened = openOperands({sayings});
  tm_visit stopped{};
  EXPECT_EQ(tm_collection_visit_matches(
                opened.get(), "(", TM_CASE_SENSITIVE, nullptr,
                [](const tm_fortune*, void*) { return TM_VISIT_CONTINUE; }, nullptr, &stopped),
            TM_ERR_BAD_PATTERN);
  tm_fortune* fortune = nullptr;
  EXPECT_EQ(tm_collection_read(opened.get(), sayings.c_str(), 9, &fortune), TM_ERR_OUT_OF_RANGE);
  EXPECT_EQ(tm_last_error_path(), sayings);

  // Another thread's failures are its own.
  std::thread([] {
    EXPECT_EQ(tm_last_error_status(), TM_OK);
    EXPECT_EQ(tm_collection_draw(nullptr, nullptr, nullptr, nullptr), TM_ERR_USAGE);
    EXPECT_STREQ(tm_last_error_message(), "tm_collection_draw: collection is NULL");
  }).join();
  EXPECT_EQ(tm_last_error_status(), TM_ERR_OUT_OF_RANGE);

  const tm_filter nonsense{static_cast<tm_length>(3), 0, TM_WEIGHT_BY_FORTUNE};
  EXPECT_EQ(tm_collection_draw(opened.get(), &nonsense, nullptr, &fortune), TM_ERR_USAGE);
  EXPECT_EQ(fortune, nullptr);
  EXPECT_STREQ(tm_status_string(TM_ERR_NOT_FOUND), "not found");
  EXPECT_STREQ(tm_status_string(TM_OK), "ok");
}

TEST_F(CCollection, AnEmptyDirectoryHasNothingToDraw) {
  const std::string empty = dir.path("empty");
  ASSERT_EQ(mkdir(empty.c_str(), 0700), 0);
  tm_collection* collection = nullptr;
  const char* operand = empty.c_str();
  EXPECT_EQ(tm_collection_open_operands(TM_KIND_NORMAL, &operand, 1, &collection),
            TM_ERR_NOTHING_TO_DRAW);
}

TEST(CFortuneFile, AppendsReadsAndCountsThroughTheIndex) {
  const TempDir dir;
  const std::string path = dir.path("mine");
  {
    const FileHandle file = openFile(path, TM_WRITABLE);
    const std::string text = "First.\nWith a second line.";
    ASSERT_EQ(tm_fortune_file_append(file.get(), text.data(), text.size()), TM_OK);
    ASSERT_EQ(tm_fortune_file_append(file.get(), "Second.", 7), TM_OK);
    int64_t count = 0;
    ASSERT_EQ(tm_fortune_file_count(file.get(), &count), TM_OK);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(tm_fortune_file_append(file.get(), "\xff", 1), TM_ERR_INVALID_UTF8);
  }
  EXPECT_EQ(dir.readFile("mine"), "First.\nWith a second line.\n%\nSecond.\n");

  const FileHandle file = openFile(path, TM_READ_ONLY);
  tm_fortune* fortune = nullptr;
  ASSERT_EQ(tm_fortune_file_get(file.get(), 1, &fortune), TM_OK);
  const Fortune second(fortune);
  EXPECT_EQ(std::string(second->path), path);
  EXPECT_EQ(second->number, 1);
  EXPECT_EQ(std::string(second->text, second->text_length), "Second.");
  EXPECT_EQ(tm_fortune_file_get(file.get(), 2, &fortune), TM_ERR_OUT_OF_RANGE);
  EXPECT_EQ(tm_last_error_message(), std::string("getEntry: index out of range: 2"));
  EXPECT_NE(tm_fortune_file_append(file.get(), "No.", 3), TM_OK);
}

TEST(CFortuneFile, ReportsADamagedIndexAndMendsIt) {
  const TempDir dir;
  const std::string path = dir.writeFile("mine", "One.\n%\nTwo.\n");
  dir.writeFile("mine.ix", "garbage, not an index");
  const FileHandle file = openFile(path, TM_WRITABLE);
  tm_index_report report{};
  ASSERT_EQ(tm_fortune_file_check(file.get(), &report), TM_OK);
  EXPECT_EQ(report.state, TM_INDEX_DAMAGED);
  EXPECT_STRNE(report.detail, "");
  tm_free(report.detail);

  ASSERT_EQ(tm_fortune_file_rebuild_index(file.get()), TM_OK);
  ASSERT_EQ(tm_fortune_file_check(file.get(), &report), TM_OK);
  EXPECT_EQ(report.state, TM_INDEX_SOUND);
  EXPECT_EQ(report.num_fortunes, 2);
  tm_free(report.detail);
}

TEST(CFortuneFile, AMissingFileIsNotFoundAndBadArgumentsAreUsageFaults) {
  const TempDir dir;
  tm_fortune_file* file = nullptr;
  EXPECT_EQ(tm_fortune_file_open(dir.path("missing").c_str(), TM_READ_ONLY, 0, &file),
            TM_ERR_NOT_FOUND);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(tm_last_error_path(), dir.path("missing"));
  EXPECT_EQ(tm_fortune_file_open(dir.path("x").c_str(), TM_WRITABLE, '\n', &file), TM_ERR_USAGE);
  EXPECT_EQ(tm_fortune_file_open(nullptr, TM_WRITABLE, 0, &file), TM_ERR_USAGE);
  EXPECT_EQ(tm_fortune_file_count(nullptr, nullptr), TM_ERR_USAGE);
  EXPECT_EQ(tm_fortune_file_close(nullptr), TM_OK);
  EXPECT_STREQ(tm_version(), detail::versionText);
}

}  // namespace
}  // namespace tallowmere
