// Appending fortunes: the bytes written, the entries recorded, and what is refused.
#include <filesystem>
#include <functional>
#include <stdexcept>

#include <tallowmere/Platform/MemoryEnv.hpp>
#include "FortuneFile/Support.hpp"
#include "support/ForwardingEnv.hpp"
#include "support/ReferenceScan.hpp"
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

using test::entriesOf;
using test::TempDir;
using Entries = std::vector<IndexEntry>;

class FortuneFileAppend : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.path("f");

  FortuneFile holding(std::string_view bytes, char32_t delimiter = '%') {
    dir.writeFile("f", bytes);
    return openFortuneFile(delimiter, true, path);
  }
  std::string text() const { return dir.readFile("f"); }
};

TEST_F(FortuneFileAppend, WritesAfterTheLastFortuneWithOneSeparator) {
  FortuneFile file = openFortuneFile('%', true, path);
  appendFortune(file, "B");
  EXPECT_EQ(text(), "B\n");
  EXPECT_EQ(entriesOf(file), (Entries{{0, 1, 1, 1}}));
  appendFortune(file, "C");
  EXPECT_EQ(text(), "B\n%\nC\n");
  EXPECT_EQ(entriesOf(file).back(), (IndexEntry{4, 1, 1, 1}));

  appendFortune(holding("B"), "C");
  EXPECT_EQ(text(), "B\n%\nC\n");

  FortuneFile section = holding("B\n", U'\u00A7');
  appendFortune(section, "C");
  EXPECT_EQ(text(), "B\n\xC2\xA7\nC\n");
  EXPECT_EQ(entriesOf(section).back(), (IndexEntry{5, 1, 1, 1}));
}

TEST_F(FortuneFileAppend, CountsLinesOfTheAppendedText) {
  FortuneFile file = holding("B\n");
  appendFortune(file, "");
  EXPECT_EQ(text(), "B\n%\n\n");
  EXPECT_EQ(entriesOf(file).back(), (IndexEntry{4, 0, 0, 0}));
  // A final newline ends the last line; the rebuild of the next append counts it as 2 lines.
  appendFortune(file, "\xC3\xA9t\xC3\xA9\n");
  EXPECT_EQ(entriesOf(file).back(), (IndexEntry{7, 6, 4, 1}));
  appendFortune(file, "a\n\nb");
  EXPECT_EQ(entriesOf(file)[2], (IndexEntry{7, 6, 4, 2}));
  EXPECT_EQ(entriesOf(file).back(), (IndexEntry{16, 4, 4, 3}));
}

TEST_F(FortuneFileAppend, EmptyFirstFortuneIsNotOverwritten) {
  FortuneFile file = holding("\n");
  appendFortune(file, "B");
  EXPECT_EQ(text(), "\n%\nB\n");
  const Entries expected{{0, 0, 0, 1}, {3, 1, 1, 1}};
  EXPECT_EQ(entriesOf(file), expected);
  rebuildIndex(file);
  EXPECT_EQ(entriesOf(file), expected);

  FortuneFile fresh = openFortuneFile('%', true, dir.path("g"));
  appendFortune(fresh, "");
  appendFortune(fresh, "B");
  EXPECT_EQ(getFortunes(fresh), (std::vector<std::string>{"", "B\n"}));
}

TEST_F(FortuneFileAppend, RefusedAppendsChangeNothing) {
  FortuneFile file = holding("A\n");
  rebuildIndex(file);
  const std::string index = dir.readFile("f.ix");
  EXPECT_THROW(appendFortune(file, "bad \xFF"), IOError);
  closeFortuneFile(file);
  // Read-only, with the index on disk and then with the index in memory.
  for (bool inMemory : {false, true}) {
    if (inMemory) std::filesystem::remove(path + ".ix");
    EXPECT_THROW(appendFortune(openFortuneFile('%', false, path), "B"), IOError);
    EXPECT_EQ(text(), "A\n");
    EXPECT_EQ(std::filesystem::exists(path + ".ix"), !inMemory);
    if (!inMemory) {
      EXPECT_EQ(dir.readFile("f.ix"), index);
    }
  }
}

TEST_F(FortuneFileAppend, AnIndexThatDescribesTheTextIsExtendedNotRewritten) {
  FortuneFile file = holding("A\n%\nB\n");
  rebuildIndex(file);
  // Bytes of the table that no append would write: an append that rewrote the table would
  // put the entry back.
  std::string index = dir.readFile("f.ix");
  index[64] = 'X';
  dir.writeFile("f.ix", index);
  appendFortune(file, "C");
  EXPECT_EQ(dir.readFile("f.ix")[64], 'X');
  EXPECT_EQ(dir.readFile("f.ix").size(), 64u + 3 * 16);
  // A text that another program changed is indexed again first.
  dir.writeFile("f", text() + "%\nD\n");
  appendFortune(file, "E");
  EXPECT_EQ(entriesOf(file), test::referenceScan(text(), U'%'));
  EXPECT_EQ(getFortune(file, 4), "E");
}

TEST_F(FortuneFileAppend, RefusesToJoinADelimiterAtTheEndToTheSeparator) {
  // "A\n%" with "B" after it would read back as "A" and "%\nB".
  FortuneFile file = holding("A\n%");
  EXPECT_THROW(appendFortune(file, "B"), IOError);
  EXPECT_EQ(text(), "A\n%");
  EXPECT_EQ(entriesOf(file), (Entries{{0, 3, 3, 2}}));
}

TEST_F(FortuneFileAppend, AHandleWhosePathWasReplacedWritesToTheNewFile) {
  FortuneFile file = holding("A\n");
  appendFortune(file, "B");
  // Another program replaces the text, as editors do: a new file renamed over the path.
  dir.writeFile("g", "X\n%\nY\n");
  std::filesystem::rename(dir.path("g"), path);
  appendFortune(file, "C");
  EXPECT_EQ(text(), "X\n%\nY\n%\nC\n");
  EXPECT_EQ(getNumFortunes(openFortuneFile('%', false, path)), 3);
}

TEST_F(FortuneFileAppend, AFortuneInPiecesIsWrittenAsItComesOrNotAtAll) {
  FortuneFile file = holding("A\n");
  rebuildIndex(file);
  const auto inPieces = [](std::vector<std::string> pieces) {
    return [pieces = std::move(pieces), next = std::size_t{0}]() mutable -> std::string_view {
      return next < pieces.size() ? std::string_view(pieces[next++]) : std::string_view();
    };
  };
  // A character cut between two pieces, and a newline that ends a piece.
  appendFortune(file, inPieces({"caf\xC3", "\xA9 au lait\n", "x"}));
  EXPECT_EQ(text(), "A\n%\ncaf\xC3\xA9 au lait\nx\n");
  EXPECT_EQ(entriesOf(file).back(), (IndexEntry{4, 15, 14, 2}));
  // Refused on the way (a bad piece, a sequence the text ends in, a failing source): the text
  // and the index are put back.
  const std::string before = text();
  const std::string index = dir.readFile("f.ix");
  const std::vector<std::function<void()>> refused = {
      [&] {
        appendFortune(file, inPieces({std::string(3 << 20, 'y'), "\xFF"}));
      },
      [&] {
        appendFortune(file, inPieces({"ok", "\xE2\x82"}));
      },
      [&] {
        int calls = 0;
        appendFortune(file, [&]() -> std::string_view {
          if (++calls == 3) throw std::runtime_error("the source failed");
          return "more ";
        });
      }};
  for (const auto& append : refused) {
    EXPECT_ANY_THROW(append());
    EXPECT_EQ(text(), before);
    EXPECT_EQ(dir.readFile("f.ix"), index);
  }
  appendFortune(file, "and after");
  EXPECT_EQ(getFortune(file, 2), "and after");
}

// The memory twin, where one file may only be read, as a text without write permission is.
class ReadOnlyText : public test::ForwardingEnv {
 public:
  explicit ReadOnlyText(Env& inner) : ForwardingEnv(inner) {}
  std::unique_ptr<File> openFile(const std::string& path, OpenMode mode) override {
    if (path == "text" && mode != OpenMode::ReadOnly) throw IOError::system(EACCES, path, "open");
    return inner_.openFile(path, mode);
  }
};

TEST(FortuneFileReadOnlyText, IsIndexedButNotAppendedTo) {
  MemoryEnv memory;
  memory.openFile("text", OpenMode::Truncate)->writeAt(0, "A\n%\nB\n");
  ReadOnlyText env(memory);
  const FortuneFile file = openFortuneFile('%', true, "text", {.env = &env});
  rebuildIndex(file);
  EXPECT_EQ(getNumFortunes(file), 2);
  try {
    appendFortune(file, "C");
    ADD_FAILURE() << "appended to a text that may only be read";
  } catch (const IOError& error) {
    EXPECT_EQ(error.errorCode(), EACCES);
    EXPECT_EQ(error.path(), "text");
  }
  EXPECT_EQ(memory.openFile("text", OpenMode::ReadOnly)->readAt(0, 100), "A\n%\nB\n");
  EXPECT_EQ(getNumFortunes(file), 2);
}

}  // namespace
}  // namespace tallowmere
