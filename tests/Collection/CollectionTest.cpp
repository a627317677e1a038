// The collection over the files people have: classic data files, rotated texts, links, binary
// files, texts in the classic layout, files that cannot be read; its filters and shares; and
// what it sees of files that change while it is kept open.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <tallowmere/Data/Fortune.hpp>
#include <tallowmere/Data/Fortune/Collection.hpp>
#include "Collection/CollectionSupport.hpp"
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

using test::TempDir;
using test::writeFortunes;
namespace fs = std::filesystem;

// What a classic collection holds: texts read through their data files (one rotated), a link
// to one of them, a text in the classic layout without any index, one with an index of ours,
// and a program.
class ClassicCollection : public ::testing::Test {
 protected:
  void SetUp() override {
    writeClassic("plain", "Tea first.\n%\nThen the rest.\n", 0);
    writeClassic("rotated", rot13("Rude words, politely.\n%\nMore of them.\n"),
                 StrfileHeader::rotated);
    fs::create_symlink("plain", dir.path("plain.u8"));
    dir.writeFile("layout", "First of the layout.\n%\nSecond of it.\n%\n");
    const std::string indexed = dir.writeFile("indexed", "");
    appendFortune(openFortuneFile(U'%', true, indexed), "Ours, with an index.");
    dir.writeFile("program", std::string("\x7f"
                                         "ELF\0\0\0",
                                         7) +
                                 "machine code");
  }

  void writeClassic(const std::string& name, const std::string& text, std::uint32_t flags) {
    dir.writeFile(name, text);
    StrfileData data = buildStrfile(text);
    data.header.flags = flags;
    dir.writeFile(name + ".dat", encodeStrfile(data));
  }

  const std::set<std::string> texts = {
      "Tea first.",           "Then the rest.", "Rude words, politely.", "More of them.",
      "First of the layout.", "Second of it.",  "Ours, with an index."};
  TempDir dir;
};

TEST_F(ClassicCollection, EachFileOnceAsPlainTextWithoutEmptyFortunes) {
  const std::string operand = dir.path();
  const Collection collection = Collection::ofOperands(std::span(&operand, 1));

  std::map<std::string, FileFormat> formats;
  for (const CollectionFile& file : collection.files()) formats[file.path] = file.format;
  EXPECT_EQ(formats,
            (std::map<std::string, FileFormat>{{dir.path("plain"), FileFormat::Classic},
                                               {dir.path("rotated"), FileFormat::Classic},
                                               {dir.path("layout"), FileFormat::Unindexed},
                                               {dir.path("indexed"), FileFormat::Indexed}}));
  EXPECT_EQ(collection.binaryFiles(), std::vector<std::string>{dir.path("program")});
  EXPECT_EQ(collection.count(), static_cast<std::int64_t>(texts.size()));

  // Every fortune is visited once, and reads the same by its number.
  std::multiset<std::string> visited;
  collection.visit([&](const VisitedFortune& fortune) {
    visited.insert(fortune.text());
    EXPECT_EQ(collection.read(fortune.path, fortune.number).text, fortune.text());
    return Visit::Continue;
  });
  EXPECT_EQ(std::set(visited.begin(), visited.end()), texts);
  EXPECT_EQ(visited.size(), texts.size());

  SplitMix64 generator(7);
  std::set<std::string> drawn;
  for (int i = 0; i < 400; ++i) drawn.insert(collection.draw({}, generator).text);
  EXPECT_EQ(drawn, texts);

  // The empty entry after the last delimiter line of the classic layout is no fortune.
  const Collection layout = Collection::ofFiles(std::vector{dir.path("layout")});
  EXPECT_THAT(collection.read(dir.path("layout"), 1).text, "Second of it.");
  EXPECT_EQ(layout.count(), 2);
  EXPECT_EQ(layout.stats().numFortunes, 2);
  EXPECT_THAT([&] { (void)layout.read(dir.path("layout"), 2); },
              ::testing::ThrowsMessage<IOError>(
                  dir.path("layout") +
                  ": no fortune number 2: the file holds 2 fortunes, numbered 0 to 1"));
}

TEST_F(ClassicCollection, MatchesAreFoundOnceAndVisitsStop) {
  const std::string operand = dir.path();
  const Collection collection = Collection::ofOperands(std::span(&operand, 1));
  std::vector<std::string> found;
  collection.visitMatches(Pattern("(tea|rude) [a-z]", {CaseMode::Insensitive}),
                          [&](const VisitedFortune& fortune) {
                            found.push_back(fortune.text());
                            return Visit::Continue;
                          });
  EXPECT_THAT(found, ::testing::UnorderedElementsAre("Tea first.", "Rude words, politely."));
  int seen = 0;
  EXPECT_EQ(collection.visit(
                [&](const VisitedFortune&) { return ++seen == 2 ? Visit::Stop : Visit::Continue; }),
            Visit::Stop);
  EXPECT_EQ(seen, 2);
}

// A named file must be a fortune text; a file of a directory that is not is left out, once.
TEST_F(ClassicCollection, WhatCannotBeReadIsLeftOutOrRefusedByName) {
  fs::create_symlink("nowhere", dir.path("dangling"));
  ASSERT_EQ(::mkfifo(dir.path("pipe").c_str(), 0600), 0);
  std::vector<std::string> skipped;
  CollectionOptions options;
  options.onSkipped = [&](const IOError& error) { skipped.push_back(error.path()); };
  const std::string operand = dir.path();
  const Collection collection = Collection::ofOperands(std::span(&operand, 1), options);
  EXPECT_THAT(skipped, ::testing::UnorderedElementsAre(dir.path("dangling"), dir.path("pipe")));
  EXPECT_EQ(collection.files().size(), 4u);

  const auto reasonOf = [](const std::vector<std::string>& operands) {
    try {
      (void)Collection::ofOperands(operands);
    } catch (const std::exception& e) {
      return errorReason(e);
    }
    return ErrorReason::Other;
  };
  EXPECT_EQ(reasonOf({dir.path("program")}), ErrorReason::NotText);
  EXPECT_EQ(reasonOf({dir.path("pipe")}), ErrorReason::NotAFile);
  EXPECT_EQ(reasonOf({dir.path("dangling")}), ErrorReason::NotFound);
  EXPECT_EQ(reasonOf({"no-such-name-anywhere"}), ErrorReason::NotFound);
  EXPECT_EQ(reasonOf({"120%", dir.path("plain")}), ErrorReason::BadArgument);
}

class Filters : public ::testing::Test {
 protected:
  TempDir dir;
};

// A short fortune among many long ones is found by a short draw without fail (after the quick
// tries miss, the draw reads the entries), and a long draw never returns it.
TEST_F(Filters, RareFortunesAreDrawnExactly) {
  std::vector<std::string> fortunes(300, std::string(200, 'x'));
  fortunes[123] = "short";
  const std::string path = writeFortunes(dir, "mixed", fortunes);
  const Collection collection = Collection::ofFiles(std::vector{path});
  SplitMix64 generator(1);
  const FortuneFilter shortOnly{.length = LengthFilter::Short, .lengthLimit = 10};
  const FortuneFilter longOnly{.length = LengthFilter::Long, .lengthLimit = 10};
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(collection.draw(shortOnly, generator).number, 123);
    EXPECT_NE(collection.draw(longOnly, generator).text, "short");
  }
  EXPECT_EQ(collection.count(shortOnly), 1);
  EXPECT_THAT([&] { (void)collection.draw({.length = LengthFilter::Short, .lengthLimit = 2}); },
              ::testing::ThrowsMessage<IOError>(path + ": no fortune of at most 2 characters"));
}

// Shares and equal files: the draws follow what shares() says, and shares() what -f prints.
TEST_F(Filters, SharesAndEqualFilesAreFollowed) {
  const std::string one = writeFortunes(dir, "one", {"lonely"});
  const std::string many = writeFortunes(dir, "many", std::vector<std::string>(9, "crowd"));
  const std::string spare = writeFortunes(dir, "spare", {"spare"});
  const auto fractionOf = [](const Collection& collection, const FortuneFilter& filter,
                             const std::string& text) {
    SplitMix64 generator(3);
    int hits = 0;
    for (int i = 0; i < 2000; ++i) hits += collection.draw(filter, generator).text == text;
    return hits / 2000.0;
  };
  const Collection plain = Collection::ofFiles(std::vector{one, many});
  EXPECT_NEAR(fractionOf(plain, {}, "lonely"), 0.1, 0.03);
  const FortuneFilter byFile{.weighting = Weighting::ByFile};
  EXPECT_NEAR(fractionOf(plain, byFile, "lonely"), 0.5, 0.05);
  EXPECT_NEAR(plain.shares(byFile).front().percent, 50.0, 1e-9);

  const Collection shared =
      Collection::ofOperands(std::vector<std::string>{"70%", many, one, spare});
  EXPECT_NEAR(fractionOf(shared, {}, "crowd"), 0.7, 0.04);
  EXPECT_NEAR(fractionOf(shared, {}, "lonely"), 0.15, 0.03);
  const std::vector<FileShare> shares = shared.shares();
  ASSERT_EQ(shares.size(), 3u);
  EXPECT_NEAR(shares[0].percent, 70.0, 1e-9);
  EXPECT_NEAR(shares[1].percent, 15.0, 1e-9);
}

// Positions number the admitted fortunes across files in order; the rest are out of range.
TEST_F(Filters, PositionsCountAdmittedFortunesAcrossFiles) {
  const std::string one = writeFortunes(dir, "one", {"a", std::string(20, 'b'), "c"});
  const std::string two = writeFortunes(dir, "two", {"dd"});
  const Collection collection = Collection::ofFiles(std::vector{one, two});
  const FortuneFilter shortOnly{.length = LengthFilter::Short, .lengthLimit = 5};
  EXPECT_EQ(collection.fortuneAt(1, shortOnly), (DrawnFortune{one, 2, "c"}));
  EXPECT_EQ(collection.fortuneAt(2, shortOnly), (DrawnFortune{two, 0, "dd"}));
  EXPECT_EQ(collection.fortuneAt(3).text, "dd");
  for (const std::int64_t outside : {std::int64_t{-1}, std::int64_t{3}}) {
    try {
      (void)collection.fortuneAt(outside, shortOnly);
      ADD_FAILURE() << outside;
    } catch (const IOError& error) {
      EXPECT_EQ(error.reason(), ErrorReason::OutOfRange);
    }
  }
}

// A collection kept open sees appends, rebuilds and replacements without being reopened.
TEST(KeptOpenCollection, SeesFilesChange) {
  const TempDir dir;
  const std::string path = writeFortunes(dir, "live", {"first"});
  rebuildIndex(openFortuneFile(U'%', true, path));
  CollectionOptions options;
  options.recheckAfter = std::chrono::milliseconds(0);
  const Collection collection = Collection::ofFiles(std::vector{path}, options);
  EXPECT_EQ(collection.count(), 1);

  appendFortune(openFortuneFile(U'%', true, path), "second");
  EXPECT_EQ(collection.count(), 2);
  EXPECT_EQ(collection.read(path, 1).text, "second");

  // Replaced whole by an editor's rename, then indexed again: read as it is now.
  dir.writeFile("new", test::fortuneText({"third", "fourth", "fifth"}));
  fs::rename(dir.path("new"), path);
  rebuildIndex(openFortuneFile(U'%', true, path));
  EXPECT_EQ(collection.count(), 3);
  SplitMix64 generator(5);
  std::set<std::string> drawn;
  for (int i = 0; i < 100; ++i) drawn.insert(collection.draw({}, generator).text);
  EXPECT_EQ(drawn, (std::set<std::string>{"third", "fourth", "fifth"}));

  // With the default interval, a change is seen at the latest at refresh().
  const Collection lazy = Collection::ofFiles(std::vector{path});
  appendFortune(openFortuneFile(U'%', true, path), "sixth");
  lazy.refresh();
  EXPECT_EQ(lazy.count(), 4);
}

}  // namespace
}  // namespace tallowmere

namespace tallowmere {
namespace {

// The search of whole texts, window by window, finds what matching every fortune finds: in
// texts far longer than a window, with fortunes across window ends and one longer than a
// window, read through an index, a classic data file, a rotated one, or none.
TEST(CollectionSearch, FindsWhatMatchingEachFortuneFinds) {
  const TempDir dir;
  std::vector<std::string> fortunes;
  SplitMix64 generator(11);
  for (int i = 0; i < 3000; ++i) {
    std::string fortune(static_cast<std::size_t>(uniformInt64(generator, 1, 400)), 'a');
    for (char& c : fortune) c = static_cast<char>('a' + uniformInt64(generator, 0, 25));
    if (i % 7 == 0) fortune.insert(fortune.size() / 2, "needle");
    if (i % 11 == 0) fortune += "\nneedle";
    fortunes.push_back(fortune);
  }
  fortunes[1500] = std::string(300 << 10, 'n') + "needle";  // longer than a window
  const std::string text = test::fortuneText(fortunes);
  dir.writeFile("indexed", text);
  rebuildIndex(openFortuneFile(U'%', true, dir.path("indexed")));
  dir.writeFile("unindexed", text);
  dir.writeFile("classic", text);
  dir.writeFile("classic.dat", encodeStrfile(buildStrfile(text)));
  dir.writeFile("rotated", rot13(text));
  StrfileData rotated = buildStrfile(rot13(text));
  rotated.header.flags = StrfileHeader::rotated;
  dir.writeFile("rotated.dat", encodeStrfile(rotated));

  const std::string operand = dir.path();
  const Collection collection = Collection::ofOperands(std::span(&operand, 1));
  ASSERT_EQ(collection.files().size(), 4u);
  for (const char* expression : {"needle", "ne+dle", "(need|xq)le", "[a-m]\nneedle"}) {
    const Pattern pattern(expression);
    std::vector<std::pair<std::string, std::int64_t>> slow;
    std::vector<std::pair<std::string, std::int64_t>> fast;
    collection.visit([&](const VisitedFortune& fortune) {
      if (pattern.matches(fortune.bytes)) slow.emplace_back(fortune.path, fortune.number);
      return Visit::Continue;
    });
    collection.visitMatches(pattern, [&](const VisitedFortune& fortune) {
      fast.emplace_back(fortune.path, fortune.number);
      EXPECT_EQ(fortune.text(), collection.read(fortune.path, fortune.number).text);
      return Visit::Continue;
    });
    EXPECT_EQ(fast, slow) << expression;
    EXPECT_GT(slow.size(), 4u) << expression;
  }
}

}  // namespace
}  // namespace tallowmere

namespace tallowmere {
namespace {

// What a collection keeps of a file read without an index of ours (a classic table, an index in
// memory) is not used once another file stands at the path, even before the collection looks
// again: the draw reads the new file.
TEST(KeptOpenCollection, ReplacedTextsAreNotReadThroughWhatWasKept) {
  const TempDir dir;
  const std::string classic = dir.writeFile("classic", test::fortuneText({"old one", "old two"}));
  dir.writeFile("classic.dat", encodeStrfile(buildStrfile(dir.readFile("classic"))));
  const std::string plain = writeFortunes(dir, "plain", {"old three"});
  CollectionOptions options;
  options.recheckAfter = std::chrono::hours(1);
  const Collection collection = Collection::ofFiles(std::vector{classic, plain}, options);
  for (const char* name : {"classic", "plain"}) {
    dir.writeFile("new", test::fortuneText({"a new text, longer than the old one was"}));
    fs::rename(dir.path("new"), dir.path(name));
  }
  fs::remove(dir.path("classic.dat"));
  SplitMix64 generator(2);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(collection.draw({}, generator).text, "a new text, longer than the old one was");
  }
}

// A classic collection with languages beside it, as Debian's fortunes-de and fortunes-ru lay
// theirs out, and the locale variables that choose among them.
TEST(LocaleCollection, TheLocaleChoosesItsLanguageAsTheClassicToolsDo) {
  TempDir dir;
  test::ScopedEnvironment environment;
  environment.isolate(dir.path("share"));
  environment.set("tallowmere_classicdir", dir.path("classic"));
  const auto classic = [&](const std::string& name, bool withData = true) {
    fs::create_directories(fs::path(dir.path("classic/" + name)).parent_path());
    const std::string text = "A saying of " + name + "\n%\n";
    dir.writeFile("classic/" + name, text);
    if (withData) dir.writeFile("classic/" + name + ".dat", encodeStrfile(buildStrfile(text)));
  };
  classic("english");
  classic("off/rude");
  classic("ru/anekdot");
  classic("de/witze");
  classic("de/off/grob");
  classic("de/abgeschaltet", false);  // turned off: no data file
  classic("xx/only-text", false);
  const auto chosen = [&](const std::vector<std::pair<std::string, std::string>>& variables,
                          FortuneType kind = FortuneType::Normal) {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE", "LANG"}) environment.unset(name);
    for (const auto& [name, value] : variables) environment.set(name, value);
    std::set<std::string> names;
    CollectionOptions options;
    options.kind = kind;
    for (const CollectionFile& file : Collection::ofKind(options).files()) {
      names.insert(fs::path(file.path).filename().string());
    }
    return names;
  };
  using Names = std::set<std::string>;
  EXPECT_EQ(chosen({}), Names{"english"});
  EXPECT_EQ(chosen({{"LANG", "ru_RU.UTF-8"}}), Names{"anekdot"});
  EXPECT_EQ(chosen({{"LANG", "de_DE.UTF-8@euro"}}), Names{"witze"});
  EXPECT_EQ(chosen({{"LANG", "de"}}), Names{"witze"});
  EXPECT_EQ(chosen({{"LANG", "C"}}), Names{"english"});
  EXPECT_EQ(chosen({{"LANG", "POSIX"}}), Names{"english"});
  EXPECT_EQ(chosen({{"LANG", "fr_FR.UTF-8"}}), Names{"english"});
  // The first variable set decides, even set to C or to nothing.
  EXPECT_EQ(chosen({{"LC_ALL", "ru_RU.UTF-8"}, {"LANG", "de_DE.UTF-8"}}), Names{"anekdot"});
  EXPECT_EQ(chosen({{"LC_MESSAGES", "de_AT"}, {"LANG", "ru_RU"}}), Names{"witze"});
  EXPECT_EQ(chosen({{"LC_MESSAGES", "C"}, {"LANGUAGE", "de"}}), Names{"english"});
  EXPECT_EQ(chosen({{"LC_ALL", ""}, {"LANG", "ru"}}), Names{"english"});
  EXPECT_EQ(chosen({{"LANGUAGE", "ru"}, {"LANG", "C"}}), Names{"anekdot"});
  // A list: the first language with fortune files (xx has none with a data file).
  EXPECT_EQ(chosen({{"LANGUAGE", "xx:fr:de:ru"}, {"LANG", "en_US"}}), Names{"witze"});
  EXPECT_EQ(chosen({{"LANG", "../de"}}), Names{"english"});
  EXPECT_EQ(chosen({{"LANG", "de"}}, FortuneType::Offensive), Names{"grob"});
  EXPECT_EQ(chosen({{"LANG", "de"}}, FortuneType::All), (Names{"witze", "grob"}));
  EXPECT_EQ(chosen({{"LANG", "ru"}}, FortuneType::Offensive), Names{"rude"});
  // Names are looked up in the language's collection first, then in the usual one.
  const auto named = [&](const std::string& name) {
    return Collection::ofOperands(std::span(&name, 1)).files().at(0).path;
  };
  chosen({{"LANG", "de"}});
  EXPECT_EQ(named("english"), dir.path("classic/english"));
  EXPECT_EQ(named("witze"), dir.path("classic/de/witze"));
  // The data directory's own collection for the language comes first; a search-path variable
  // wins over every locale.
  fs::create_directories(dir.path("share/de/data/normal"));
  dir.writeFile("share/de/data/normal/eigene", "Eigenes\n");
  EXPECT_EQ(chosen({{"LANG", "de_CH"}}), Names{"eigene"});
  environment.set("TALLOWMERE_PATH", dir.path("classic/ru"));
  EXPECT_EQ(chosen({{"LANG", "de"}}), Names{"anekdot"});
}

}  // namespace
}  // namespace tallowmere

namespace tallowmere {
namespace {

// A collection that keeps its fortunes in memory: files of every kind (our index, a classic
// table, a rotated one, none), one far larger than the rest, and the same collection reading
// from disk beside it.
class KeptInMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::string> fortunes;
    for (int i = 0; i < 40; ++i) {
      fortunes.push_back(
          std::string(static_cast<std::size_t>(1 + i * 7 % 23), static_cast<char>('a' + i % 26)));
    }
    fortunes[3] = "";                  // empty: never drawn
    fortunes[5] = "Caf\xc3\xa9 \xff";  // invalid UTF-8 too
    const std::string text = test::fortuneText(fortunes);
    indexed = dir.writeFile("indexed", text);
    rebuildIndex(openFortuneFile(U'%', true, indexed));
    dir.writeFile("classic", text);
    dir.writeFile("classic.dat", encodeStrfile(buildStrfile(text)));
    dir.writeFile("rotated", rot13(text));
    StrfileData rotated = buildStrfile(rot13(text));
    rotated.header.flags = StrfileHeader::rotated;
    dir.writeFile("rotated.dat", encodeStrfile(rotated));
    dir.writeFile("unindexed", text);
    big = writeFortunes(dir, "big", std::vector<std::string>(200, std::string(100, 'b')));
    rebuildIndex(openFortuneFile(U'%', true, big));
  }

  // The directory's files, keeping at most `bytes` of them, told what is left out.
  Collection open(std::size_t bytes) {
    CollectionOptions options;
    options.keepInMemory = bytes;
    options.recheckAfter = std::chrono::hours(1);
    options.onSkipped = [this](const IOError& error) { skipped.push_back(error.path()); };
    const std::string operand = dir.path();
    return Collection::ofOperands(std::span(&operand, 1), options);
  }

  TempDir dir;
  std::string indexed;
  std::string big;
  std::vector<std::string> skipped;
};

// Draws with one seed, reads of every number and the failures of empty and missing fortunes
// are the same from memory as from disk, under every filter.
TEST_F(KeptInMemory, ServesWhatADiskReadServes) {
  const Collection disk = open(0);
  const Collection kept = open(1 << 20);
  ASSERT_EQ(kept.files().size(), 5u);
  const auto failureOf = [](const Collection& collection, const CollectionFile& file, int number) {
    try {
      return collection.read(file.path, number).text;
    } catch (const IOError& error) {
      return std::string("failed: ") + error.what();
    }
  };
  for (const CollectionFile& file : kept.files()) {
    for (int number = -1; number <= 41; ++number) {
      EXPECT_EQ(failureOf(kept, file, number), failureOf(disk, file, number))
          << file.path << " " << number;
    }
  }
  for (const FortuneFilter& filter :
       {FortuneFilter{}, FortuneFilter{.length = LengthFilter::Short, .lengthLimit = 5},
        FortuneFilter{.length = LengthFilter::Long, .lengthLimit = 20},
        FortuneFilter{.weighting = Weighting::ByFile}}) {
    SplitMix64 fromDisk(7);
    SplitMix64 fromMemory(7);
    for (int i = 0; i < 300; ++i) {
      ASSERT_EQ(kept.draw(filter, fromMemory), disk.draw(filter, fromDisk)) << i;
    }
  }
}

// Kept files are read from memory, even once gone from the disk; a file larger than what is
// left of the budget is read from disk, and so is left out when it is gone.
TEST_F(KeptInMemory, FilesBeyondTheBudgetAreReadFromDisk) {
  const Collection collection = open(16 << 10);  // the small files, not the big one
  for (const auto& entry : fs::directory_iterator(dir.path())) fs::remove(entry.path());
  SplitMix64 generator(3);
  for (int i = 0; i < 200; ++i) {
    const DrawnFortune drawn = collection.draw({}, generator);
    EXPECT_NE(drawn.path, big);
    EXPECT_EQ(drawn.text, collection.read(drawn.path, drawn.number).text);
  }
  EXPECT_EQ(skipped, std::vector<std::string>{big});
  EXPECT_EQ(collection.read(indexed, 0).text, "a");
}

// An append is seen at the next look at the file, the text read again whole; until then the
// collection serves the file as it was.
TEST_F(KeptInMemory, AppendsAreSeenAfterARefresh) {
  const Collection collection = open(1 << 20);
  appendFortune(openFortuneFile(U'%', true, indexed), "appended");
  EXPECT_THROW((void)collection.read(indexed, 40), IOError);
  collection.refresh();
  EXPECT_EQ(collection.read(indexed, 40).text, "appended");
  EXPECT_EQ(collection.count(), open(0).count());
}

// A text replaced behind the collection's back, or changed in place without its index, is
// served as the kept snapshot until the collection looks at it again: every draw returns a
// fortune the file held when it was read (never bytes of the new text cut by the old table),
// and after a refresh every draw returns one of the new text.
TEST_F(KeptInMemory, ReplacedTextsAreServedAsKeptUntilTheyAreLookedAt) {
  const Collection collection = open(1 << 20);
  const std::string classic = dir.path("classic");
  const auto textsOf = [&](const std::string& path) {
    std::vector<std::string> texts;
    for (std::int64_t number = 0; number < 40; ++number) {
      try {
        texts.push_back(collection.read(path, number).text);
      } catch (const IOError&) {
        texts.emplace_back("(none)");
      }
    }
    return texts;
  };
  const std::vector<std::string> indexedBefore = textsOf(indexed);
  const std::vector<std::string> classicBefore = textsOf(classic);
  const std::vector<std::string> renewed = {"renewed one", "renewed two"};
  dir.writeFile("new", test::fortuneText(renewed));
  fs::rename(dir.path("new"), indexed);
  rebuildIndex(openFortuneFile(U'%', true, indexed));
  std::string overwritten = dir.readFile("classic");
  std::fill(overwritten.begin(), overwritten.end(), '#');
  dir.writeFile("classic", overwritten);  // in place, the table left as it was

  EXPECT_EQ(textsOf(indexed), indexedBefore);
  EXPECT_EQ(textsOf(classic), classicBefore);
  SplitMix64 generator(4);
  for (int i = 0; i < 300; ++i) {
    const DrawnFortune drawn = collection.draw({}, generator);
    const auto at = static_cast<std::size_t>(drawn.number);
    if (drawn.path == indexed) {
      EXPECT_EQ(drawn.text, indexedBefore.at(at));
    } else if (drawn.path == classic) {
      EXPECT_EQ(drawn.text, classicBefore.at(at));
    }
  }

  collection.refresh();
  EXPECT_EQ(collection.read(indexed, 0).text, "renewed one");
  EXPECT_EQ(collection.read(indexed, 1).text, "renewed two");
  EXPECT_THROW((void)collection.read(indexed, 2), IOError);
  for (int i = 0; i < 300; ++i) {
    const DrawnFortune drawn = collection.draw({}, generator);
    if (drawn.path == classic) {
      EXPECT_EQ(drawn.text.find_first_not_of('#'), std::string::npos);
    }
  }
}

// Draws from many threads while another appends and the collection is refreshed: every
// fortune drawn is whole, one the file holds.
TEST_F(KeptInMemory, DrawsWhileAFileGrowsReturnWholeFortunes) {
  const std::string path = writeFortunes(dir, "growing", {"grown 0"});
  rebuildIndex(openFortuneFile(U'%', true, path));
  CollectionOptions options;
  options.keepInMemory = 1 << 20;
  options.recheckAfter = std::chrono::milliseconds(0);
  const Collection collection = Collection::ofFiles(std::vector{path}, options);
  std::atomic<bool> done = false;
  std::vector<std::thread> readers;
  std::atomic<int> wrong = 0;
  for (int t = 0; t < 2; ++t) {
    readers.emplace_back([&, t] {
      SplitMix64 generator(static_cast<std::uint64_t>(t));
      while (!done) {
        const DrawnFortune drawn = collection.draw({}, generator);
        if (drawn.text != "grown " + std::to_string(drawn.number)) ++wrong;
      }
    });
  }
  for (int i = 1; i < 60; ++i) {
    appendFortune(openFortuneFile(U'%', true, path), "grown " + std::to_string(i));
  }
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(wrong, 0);
  collection.refresh();
  EXPECT_EQ(collection.read(path, 59).text, "grown 59");
}

}  // namespace
}  // namespace tallowmere
