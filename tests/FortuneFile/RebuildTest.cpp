// Rebuilding an index from the text: the entries of known texts, chunk boundaries, invalid
// UTF-8, agreement with the plain reference scan (for both scanners, both block loops, and
// patterns placed at the edges of blocks and reads), and texts too long for the index format.
#include <array>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <random>

#include <tallowmere/Data/Fortune/Strfile.hpp>
#include <tallowmere/Platform/MemoryEnv.hpp>
#include "Data/Fortune/FortuneFile/Scan.hpp"
#include "FortuneFile/Support.hpp"
#include "support/ForwardingEnv.hpp"
#include "support/ReferenceScan.hpp"
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

using Entries = std::vector<IndexEntry>;

Entries rebuilt(std::string_view text, char32_t delimiter = '%') {
  auto file = createMemoryFile("text");
  file->write(text);
  const Index index = createVirtualIndex();
  rebuildIndex(delimiter, *file, index);
  return getEntries(index);
}

// Every entry that a detail scanner of type S, built from `args`, gives for `text`.
template <class S, class... Args>
Entries scannedBy(std::string_view text, char32_t delimiter, Args... args) {
  auto file = createMemoryFile("text");
  file->write(text);
  S scanner(delimiter, *file, args...);
  Entries entries;
  while (auto entry = scanner.next()) entries.push_back(*entry);
  return entries;
}

// The detail scanner with a small chunk size, to put chunk boundaries everywhere.
Entries scannedInChunks(std::string_view text, char32_t delimiter, std::size_t chunkSize) {
  return scannedBy<detail::FortuneScanner>(text, delimiter, chunkSize);
}

// The block scanner with the vector instructions every processor has (the others are what
// rebuildIndex uses where the processor has them).
Entries scannedByBaseline(std::string_view text, char32_t delimiter,
                          std::size_t chunkSize = detail::scanChunkSize) {
  return scannedBy<detail::BlockScanner>(text, delimiter, chunkSize, detail::ScanVectors::Baseline);
}

// The block scanner spreading the text over two workers and the reader in segments of
// `segmentSize` bytes, however short the text.
Entries scannedInSegments(std::string_view text, char32_t delimiter, std::size_t segmentSize,
                          std::size_t chunkSize = detail::scanChunkSize) {
  return scannedBy<detail::BlockScanner>(text, delimiter, chunkSize, detail::ScanVectors::Widest,
                                         detail::SegmentScan{3, segmentSize, 0});
}

TEST(RebuildIndex, CutsKnownTextsIntoEntries) {
  const std::vector<std::pair<std::string, Entries>> examples = {
      {"A\n%\nB\n", {{0, 1, 1, 1}, {4, 1, 1, 1}}},
      {"A\n%\nB", {{0, 1, 1, 1}, {4, 1, 1, 1}}},
      {"x\ny\n%\nz", {{0, 3, 3, 2}, {6, 1, 1, 1}}},
      {"A\n%\n", {{0, 1, 1, 1}, {4, 0, 0, 1}}},
      {"A\n%\n\n%\nB", {{0, 1, 1, 1}, {4, 0, 0, 1}, {7, 1, 1, 1}}},
      {"A\n%x\n%\n", {{0, 4, 4, 2}, {7, 0, 0, 1}}},
      {"A\n%", {{0, 3, 3, 2}}},
      {"%\nA", {{0, 3, 3, 2}}},
      {"\n%\nA", {{0, 0, 0, 1}, {3, 1, 1, 1}}},
      {"A\n%\n%\nB", {{0, 1, 1, 1}, {4, 3, 3, 2}}},
      {"\n", {{0, 0, 0, 1}}},
      {"", {}},
      {"\xC3\xA9t\xC3\xA9", {{0, 5, 3, 1}}},
      // Invalid sequences count as one character each; one at the very end is left out.
      {"a\xFF"
       "b",
       {{0, 3, 3, 1}}},
      {"\xC0\x80|\xE2\x82|\xED\xA0\x80|\xF5\x80\x80\x80|\xF8x", {{0, 17, 10, 1}}},
      {"A\n%\nB\xE2", {{0, 1, 1, 1}, {4, 1, 1, 1}}},
      {"B\xF0\x9F\x98", {{0, 1, 1, 1}}},
      {"B\xEF\xBF\xBD", {{0, 4, 2, 1}}},
  };
  for (const auto& [text, entries] : examples) EXPECT_EQ(rebuilt(text), entries) << text;
  EXPECT_EQ(rebuilt("A\n\xC2\xA7\nB", U'\u00A7'), (Entries{{0, 1, 1, 1}, {5, 1, 1, 1}}));
}

TEST(RebuildIndex, DecodesCharactersAcrossTheChunkBoundary) {
  for (std::string ch : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
    const auto length = static_cast<std::int64_t>(ch.size());
    for (std::int64_t before = 4096 - length + 1; before < 4096; ++before) {
      const std::string text = std::string(static_cast<std::size_t>(before), 'a') + ch + "\n%\nB";
      EXPECT_EQ(rebuilt(text),
                (Entries{{0, before + length, before + 1, 1}, {before + length + 3, 1, 1, 1}}));
    }
  }
  // A lead byte that ends the first chunk, followed by an ASCII byte, and one that ends the file.
  EXPECT_EQ(rebuilt(std::string(4095, 'a') + "\xE2x"), (Entries{{0, 4097, 4097, 1}}));
  EXPECT_EQ(rebuilt(std::string(4096, 'a') + "\xE2"), (Entries{{0, 4096, 4096, 1}}));
}

// Texts from pieces that make the step machine and the decoder branch a lot.
std::string randomText(std::mt19937& random) {
  static const std::vector<std::string> pieces = {"\n",
                                                  "\n",
                                                  "%",
                                                  "%",
                                                  "\xC2\xA7",
                                                  "a",
                                                  "b",
                                                  "\xC3\xA9",
                                                  "\xE2\x82\xAC",
                                                  "\xF0\x9F\x98\x80",
                                                  "\xFF",
                                                  "\x80",
                                                  "\xC0\x80",
                                                  "\xE2\x82",
                                                  "\xF0\x9F",
                                                  "\xED\xA0\x80",
                                                  "\xF5\x80\x80\x80",
                                                  "\n%\n",
                                                  "\n\xC2\xA7\n",
                                                  "\xEF\xBF\xBD"};
  const std::size_t count = random() % 10 == 0 ? 1500 + random() % 2500 : random() % 40;
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += pieces[random() % pieces.size()];
  return text;
}

TEST(RebuildIndex, AgreesWithTheReferenceScan) {
  // The last two delimiters are served by the character scanner only: U+FFFD is what every
  // invalid sequence decodes to, and a newline delimiter overlaps the lines around it (which
  // gives entries that an index refuses, so it is only scanned here).
  const std::array<char32_t, 5> delimiters = {U'%', U'%', U'\u00A7', U'\uFFFD', U'\n'};
  std::mt19937 random(20240611);
  for (int round = 0; round < 3000; ++round) {
    const std::string text = randomText(random);
    const char32_t delimiter = delimiters[static_cast<std::size_t>(round) % delimiters.size()];
    const Entries expected = test::referenceScan(text, delimiter);
    if (delimiter != U'\n') {
      ASSERT_EQ(rebuilt(text, delimiter), expected) << "round " << round;
    }
    const std::size_t chunk = 1 + random() % 7;
    ASSERT_EQ(test::referenceScan(text, delimiter, chunk), expected) << "round " << round;
    if (text.size() < 2000) {
      ASSERT_EQ(scannedInChunks(text, delimiter, chunk), expected) << "round " << round;
      ASSERT_EQ(scannedBy<detail::CharScanner>(text, delimiter, chunk), expected) << round;
    }
    if (detail::BlockScanner::serves(delimiter)) {
      ASSERT_EQ(scannedByBaseline(text, delimiter), expected) << "round " << round;
      ASSERT_EQ(scannedByBaseline(text, delimiter, chunk), expected) << "round " << round;
      const std::size_t segment = 64 * (1 + random() % 4);
      ASSERT_EQ(scannedInSegments(text, delimiter, segment), expected) << "round " << round;
      ASSERT_EQ(scannedInSegments(text, delimiter, segment, chunk), expected) << round;
    }
  }
}

// The block scanner reads 64 bytes at a time and carries what crosses a block's edge (a
// character's lead byte, the start of a delimiter line) into the next block; it counts
// characters a group of 64 blocks at a time, by a shortcut that holds for valid UTF-8 and is
// checked at each group's start; it reads the file in chunks and keeps the text's last bytes
// for its end; workers scan segments of it on their own, which the reader joins at the
// segments' edges. Patterns at and around those edges, after runs of one-, two- and three-byte
// characters, must give the reference's entries.
TEST(RebuildIndex, PatternsAtTheEdgesOfBlocksAndReadsGiveTheReferenceEntries) {
  const std::vector<std::pair<std::string, char32_t>> patterns = {
      {"\n%\nB", U'%'},
      {"\n%\n%\n%\nC", U'%'},  // only the first of adjacent delimiter lines ends a fortune
      {"\n%", U'%'},
      {"\n%\n", U'%'},
      {"\n%x\n%\n", U'%'},
      {"\n\xC2\xA7\nB", U'\u00A7'},
      {"\n\xE2\x82\xAC\n\xE2\x82\xAC\n", U'\u20AC'},
      {"\n\xF0\x9F\x98\x80\nD", U'\U0001F600'},
      {std::string("\n\0\nE", 4), U'\0'},
      {"\xFF\n%\nx", U'%'},  // an invalid byte after a long run
      {"\xE2\x82\xAC\xF0\x9F\x98\x80\xC3\xA9\n", U'%'},
      {"\x80\x80\x80\x80\x80\n%\n", U'%'},
      {"\xE2\x82", U'%'},  // a character cut short by the end of the text
      {"\xF0\x9F\x98", U'%'},
      {"\xC0\x80\xED\xA0\x80", U'%'},
      {"\n%\n\xFF", U'%'},
      {"\xE0"
       "A\x80\n%\n",
       U'%'},                       // announced continuation bytes missing
      {"\xF8\x80\x80\n%\n", U'%'},  // 0xF8 up announces nothing
  };
  const std::array<std::string, 3> runs = {"a", "\xD0\xB6", "\xE4\xB8\xAD"};
  // (The long tail puts whole blocks after the edge, where a block is not the text's last.)
  const std::array<std::string, 3> tails = {"", "tail\n%\nend\n", std::string(70, 'e') + "\n"};
  for (const std::size_t edge :
       {std::size_t{64}, std::size_t{128}, std::size_t{4096}, detail::scanChunkSize}) {
    for (const std::string& run : runs) {
      // Runs of whole characters, shifted by up to four bytes against the edge.
      std::string before;
      while (before.size() + run.size() <= edge - 6) before += run;
      for (std::size_t shift = 0; shift < 12; ++shift) {
        for (const auto& [pattern, delimiter] : patterns) {
          for (const std::string& tail : tails) {
            const std::string text = before + std::string(shift, 'x') + pattern + tail;
            const Entries expected = test::referenceScan(text, delimiter, 16);
            ASSERT_EQ(rebuilt(text, delimiter), expected) << edge << " " << shift << " " << pattern;
            ASSERT_EQ(scannedByBaseline(text, delimiter), expected) << edge << " " << shift;
            if (edge < 1000) {
              for (const std::size_t chunk : {1u, 63u, 65u, 100u}) {
                ASSERT_EQ(scannedByBaseline(text, delimiter, chunk), expected) << chunk;
              }
              ASSERT_EQ(scannedInSegments(text, delimiter, edge), expected) << edge << " " << shift;
            }
          }
        }
      }
    }
  }
}

// Long texts cross many blocks and reads: runs of plain ASCII, of Cyrillic and Chinese, and
// the branching pieces of randomText.
TEST(RebuildIndex, LongMixedTextsAgreeWithTheReferenceScan) {
  std::mt19937 random(7);
  const std::array<std::string, 4> runs = {"plain words",
                                           "\xD1\x81\xD0\xBB\xD0\xBE\xD0\xB2\xD0\xBE",
                                           "\xE6\x96\x87\xE5\xAD\x97", "\n%\n"};
  for (int round = 0; round < 4; ++round) {
    std::string text;
    while (text.size() < 300000) {
      const std::string& run = runs[random() % runs.size()];
      for (std::size_t times = random() % 50; times > 0; --times) text += run;
      text += randomText(random).substr(0, 200);
    }
    const Entries expected = test::referenceScan(text, U'%', 16);
    ASSERT_EQ(rebuilt(text), expected) << "round " << round;
    ASSERT_EQ(scannedByBaseline(text, U'%'), expected) << "round " << round;
    ASSERT_EQ(scannedByBaseline(text, U'%', 4093), expected) << "round " << round;
    for (const std::size_t segment : {std::size_t{4096}, std::size_t{65536}}) {
      ASSERT_EQ(scannedInSegments(text, U'%', segment), expected) << "round " << round;
      ASSERT_EQ(scannedInSegments(text, U'%', segment, 4093), expected) << "round " << round;
    }
  }
}

// Segments that end the workers' part early: more entries than a segment's result holds (a
// fortune every four bytes), delimiter lines chained across every edge, and a text that ends
// before the size it had when the scan began. Then a read that fails in a worker fails the scan.
TEST(RebuildIndex, SegmentThreadsThatEndEarlyHandTheScanBackToTheReader) {
  std::string dense;
  while (dense.size() < 300000) dense += "A\n%\n";
  std::string chained;
  while (chained.size() < 300000) chained += "\n%";
  for (const std::string* text : {&dense, &chained}) {
    const Entries expected = test::referenceScan(*text, U'%', 4096);
    ASSERT_EQ(scannedInSegments(*text, U'%', 65536), expected);
    ASSERT_EQ(scannedInSegments(*text, U'%', 192), expected);
  }

  // A file that claims more bytes than it holds, and one whose reads past an offset fail.
  class Reads final : public File {
   public:
    Reads(std::string text, std::int64_t claimed, std::int64_t failFrom)
        : text_(std::move(text)), claimed_(claimed), failFrom_(failFrom) {}
    std::size_t readAt(std::int64_t offset, char* buffer, std::size_t size) override {
      if (offset + static_cast<std::int64_t>(size) > failFrom_) {
        throw IOError::system(EIO, name_, "read");
      }
      const auto at = std::min(static_cast<std::size_t>(offset), text_.size());
      return text_.copy(buffer, size, at);
    }
    void writeAt(std::int64_t, std::string_view) override {}
    std::int64_t size() override { return claimed_; }
    void setSize(std::int64_t) override {}
    void sync() override {}
    FileIdentity identity() override { return {}; }
    void close() override {}
    bool isOpen() override { return true; }
    const std::string& name() const override { return name_; }

   private:
    const std::string text_;
    const std::int64_t claimed_;
    const std::int64_t failFrom_;
    const std::string name_ = "reads";
  };
  const std::string text = dense.substr(0, 100000);
  const auto scanned = [](File& file) {
    detail::BlockScanner scanner(U'%', file, 4096, detail::ScanVectors::Widest, {2, 1024, 0});
    Entries entries;
    while (auto entry = scanner.next()) entries.push_back(*entry);
    return entries;
  };
  Reads cut(text, 200000, INT64_MAX);
  EXPECT_EQ(scanned(cut), test::referenceScan(text, U'%'));
  Reads failing(text, 100000, 50000);
  EXPECT_THROW(scanned(failing), IOError);
}

// The vector classifiers mark exactly the bytes that the byte-by-byte rule marks.
TEST(RebuildIndex, ClassifiesBlocksByteByByte) {
  std::mt19937 random(99);
  // Bytes of every class, the delimiters' bytes often among them.
  const std::string alphabet =
      "\n%a\x00\x7F\x80\xA7\xBF\xC0\xC2\xDF\xE0\xE2\xEF\xF0\xF4\xF7\xF8\xFF";
  for (int round = 0; round < 2000; ++round) {
    std::array<unsigned char, 64> block{};
    for (unsigned char& byte : block) {
      byte = random() % 4 == 0 ? static_cast<unsigned char>(random())
                               : static_cast<unsigned char>(alphabet[random() % alphabet.size()]);
    }
    const std::size_t length = 1 + static_cast<std::size_t>(round) % 4;
    std::array<unsigned char, 4> delimiter{};
    for (std::size_t j = 0; j < length; ++j) delimiter[j] = block[random() % 64];
    const detail::BlockMasks expected =
        detail::classifyBlockPlainly(block.data(), delimiter, length);
    for (const auto vectors : {detail::ScanVectors::Widest, detail::ScanVectors::Baseline}) {
      ASSERT_TRUE(detail::classifyBlock(block.data(), delimiter, length, vectors) == expected)
          << "round " << round;
    }
  }
}

TEST(RebuildIndex, ReplacesTheIndexFileWholeAndOnlyWhenItChanges) {
  test::TempDir dir;
  const std::string path = dir.writeFile("jar", "A\n%\nB\n");
  const FortuneFile file = openFortuneFile('%', true, path);
  rebuildIndex(file);
  const auto inode = [&] { return Env::disk().status(path + ".ix").identity; };
  const FileIdentity first = inode();
  rebuildIndex(file);  // the same text: nothing is written
  EXPECT_EQ(inode(), first);
  dir.writeFile("jar", "A\n%\nB\n%\nC\n");
  const Index before = openIndex(path + ".ix", false);  // a reader of the old index
  rebuildIndex(file);
  EXPECT_NE(inode(), first);
  EXPECT_EQ(getStats(before).numFortunes, 2);
  EXPECT_EQ(getEntries(before).size(), 2u);
  EXPECT_EQ(getNumFortunes(file), 3);
  EXPECT_TRUE(test::temporariesOf(path + ".ix").empty());
}

// The memory twin, where the first sync of a new index file fails and the later ones succeed,
// as a disk reports a write error once. A long table is synced while it is written, by
// another thread, and such a failure must still reach the caller.
class FirstIndexSyncFails : public test::ForwardingEnv {
 public:
  explicit FirstIndexSyncFails(Env& inner) : ForwardingEnv(inner) {}
  std::unique_ptr<File> openFile(const std::string& path, OpenMode mode) override {
    std::unique_ptr<File> file = inner_.openFile(path, mode);
    if (mode != OpenMode::CreateNew) return file;
    return std::make_unique<FailingSync>(std::move(file), failed_);
  }
  void copyModeAndGroup(File& file, const std::string& model) override {
    inner_.copyModeAndGroup(static_cast<FailingSync&>(file).inner(), model);
  }

 private:
  class FailingSync final : public File {
   public:
    FailingSync(std::unique_ptr<File> inner, std::atomic<bool>& failed)
        : inner_(std::move(inner)), failed_(failed) {}
    std::size_t readAt(std::int64_t offset, char* buffer, std::size_t size) override {
      return inner_->readAt(offset, buffer, size);
    }
    void writeAt(std::int64_t offset, std::string_view bytes) override {
      inner_->writeAt(offset, bytes);
    }
    std::int64_t size() override { return inner_->size(); }
    void setSize(std::int64_t size) override { inner_->setSize(size); }
    void sync() override {
      if (!failed_.exchange(true)) throw IOError::system(EIO, name(), "sync");
      inner_->sync();
    }
    FileIdentity identity() override { return inner_->identity(); }
    void close() override { inner_->close(); }
    bool isOpen() override { return inner_->isOpen(); }
    const std::string& name() const override { return inner_->name(); }
    File& inner() { return *inner_; }

   private:
    std::unique_ptr<File> inner_;
    std::atomic<bool>& failed_;
  };

  std::atomic<bool> failed_{false};
};

TEST(RebuildIndex, AFailedSyncOfALongTableIsReportedAndTheOldIndexKept) {
  MemoryEnv memory;
  memory.openFile("text", OpenMode::Truncate)->writeAt(0, "A\n%\nB\n");
  rebuildIndex(openFortuneFile('%', true, "text", {.env = &memory}));
  FirstIndexSyncFails env(memory);
  const FortuneFile file = openFortuneFile('%', true, "text", {.env = &env, .scanThreads = 2});
  const std::string before = memory.openFile("text.ix", OpenMode::ReadOnly)->readAt(0, 1000);
  std::string text = "a\n";
  for (int i = 1; i < 100000; ++i) text += "%\na\n";  // a table of 1.6 MB
  memory.openFile("text", OpenMode::Truncate)->writeAt(0, text);
  try {
    rebuildIndex(file);
    ADD_FAILURE() << "a failed sync went unreported";
  } catch (const IOError& error) {
    EXPECT_EQ(error.errorCode(), EIO);
  }
  EXPECT_EQ(memory.openFile("text.ix", OpenMode::ReadOnly)->readAt(0, 1000), before);
  EXPECT_TRUE(test::temporariesOf("text.ix", memory).empty());
  rebuildIndex(file);
  EXPECT_EQ(getNumFortunes(file), 100000);
}

TEST(RebuildIndex, AFortuneFileAskedForThreadsIndexesALongTextAlike) {
  test::TempDir dir;
  std::string text;
  for (int i = 0; text.size() < (std::size_t{9} << 20); ++i) {
    text += "Saying number " + std::to_string(i) + (i % 5 == 0 ? "\non two lines\n%\n" : "\n%\n");
  }
  const std::string path = dir.writeFile("long", text);
  rebuildIndex(openFortuneFile('%', true, path, {.scanThreads = 2, .sync = false}));
  const Index stored = openIndex(path + ".ix", false);
  EXPECT_EQ(getEntries(stored), test::referenceScan(text, U'%'));
  closeIndex(stored);
}

TEST(RebuildIndex, RefusesTextsLongerThanAnIndexCanAddress) {
  test::TempDir dir;
  const std::string path = dir.writeFile("big", "A\n%\nB\n");
  FortuneFile file = openFortuneFile('%', true, path);
  rebuildIndex(file);
  const std::string index = dir.readFile("big.ix");
  // A sparse file: no disk space is used for the gap.
  std::filesystem::resize_file(path, 4294967296);
  for (auto change : {+[](const FortuneFile& f) { rebuildIndex(f); },
                      +[](const FortuneFile& f) { appendFortune(f, "C"); }}) {
    try {
      change(file);
      FAIL();
    } catch (const IOError& e) {
      EXPECT_TRUE(e.isUserError());
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("4294967295"), std::string::npos) << e.what();
    }
    EXPECT_EQ(dir.readFile("big.ix"), index);
    EXPECT_EQ(std::filesystem::file_size(path), 4294967296u);
  }
  // Without an index file, none is created (an empty one would say the text holds nothing).
  std::filesystem::remove(path + ".ix");
  const FortuneFile fresh = openFortuneFile('%', true, path);
  EXPECT_THROW(rebuildIndex(fresh), IOError);
  EXPECT_THROW((void)getNumFortunes(fresh), IOError);
  EXPECT_THROW(appendFortune(fresh, "C"), IOError);
  EXPECT_FALSE(std::filesystem::exists(path + ".ix"));
}

// A fortune file in a directory that others may write to, in the memory twin.
class WritingBesideTheText : public ::testing::Test {
 protected:
  WritingBesideTheText() {
    env.createDirectory("shared");
    env.createDirectory("home");
    put("home/notes", notes);
    put("shared/text", "A\n%\nB\n");
  }

  void put(const std::string& path, const std::string& bytes) {
    env.openFile(path, OpenMode::Truncate)->writeAt(0, bytes);
  }
  std::string get(const std::string& path) {
    return env.openFile(path, OpenMode::ReadOnly)->readAt(0, 1 << 20);
  }
  FortuneFile open() { return openFortuneFile('%', true, "shared/text", {.env = &env}); }
  bool isLink(const std::string& path) {
    return env.linkStatus(path).kind == FileKind::SymbolicLink;
  }
  // The IOError that `change` throws.
  template <class Change>
  IOError failureOf(Change&& change) {
    try {
      change();
    } catch (const IOError& error) {
      return error;
    }
    ADD_FAILURE() << "no failure";
    return IOError::userError("none");
  }

  MemoryEnv env;
  const std::string notes = "mine\n";
};

TEST_F(WritingBesideTheText, NoLinkPlantedBesideTheTextIsWrittenThroughOrReplaced) {
  env.createSymbolicLink("../home/notes", "shared/.text.ix.tmp");
  env.createSymbolicLink("../home/notes", "shared/.text.dat.tmp");
  const FortuneFile file = open();
  appendFortune(file, "C");  // no index yet: one is written beside the text
  rebuildStrfileData(file);
  EXPECT_EQ(get("home/notes"), notes);
  EXPECT_EQ(getNumFortunes(file), 3);
  EXPECT_FALSE(isLink("shared/text.ix") || isLink("shared/text.dat"));
  EXPECT_FALSE(env.linkStatus("shared/.text.ix.tmp").exists());  // the old temporaries go
  EXPECT_FALSE(env.linkStatus("shared/.text.dat.tmp").exists());
  EXPECT_TRUE(test::temporariesOf("shared/text.ix", env).empty());

  // Links at the index's and the data file's own paths, one leading out of the directory to
  // nothing yet, one to a file: refused by every writer, and left as they are.
  env.removeFile("shared/text.ix");
  env.removeFile("shared/text.dat");
  env.createSymbolicLink("../home/new.ix", "shared/text.ix");
  env.createSymbolicLink("../home/notes", "shared/text.dat");
  const FortuneFile again = open();
  const std::string text = get("shared/text");
  for (const IOError& error :
       {failureOf([&] { appendFortune(again, "D"); }), failureOf([&] { rebuildIndex(again); }),
        failureOf([&] { (void)getNumFortunes(again); })}) {
    EXPECT_EQ(error.path(), "shared/text.ix");
    EXPECT_EQ(error.reason(), ErrorReason::PermissionDenied);
  }
  EXPECT_EQ(failureOf([&] { rebuildStrfileData(file); }).path(), "shared/text.dat");
  EXPECT_EQ(get("shared/text"), text);
  EXPECT_EQ(get("home/notes"), notes);
  EXPECT_FALSE(env.status("home/new.ix").exists());
  EXPECT_TRUE(isLink("shared/text.ix") && isLink("shared/text.dat"));
}

TEST_F(WritingBesideTheText, AReplacedIndexOrDataFileKeepsTheModeOfTheFileItReplaces) {
  env.setUmask(077);
  env.setMode("shared/text", 0644);
  const FortuneFile file = open();
  rebuildIndex(file);
  rebuildStrfileData(file);
  EXPECT_EQ(env.status("shared/text.ix").mode, 0644u);  // new: the text's
  EXPECT_EQ(env.status("shared/text.dat").mode, 0644u);
  env.setMode("shared/text.ix", 0640);
  env.setMode("shared/text.dat", 0604);
  put("shared/text", "A\n%\nB\n%\nC\n");
  rebuildIndex(file);  // both rewritten
  EXPECT_EQ(getNumFortunes(file), 3);
  EXPECT_EQ(env.status("shared/text.ix").mode, 0640u);
  EXPECT_EQ(env.status("shared/text.dat").mode, 0604u);
}

TEST_F(WritingBesideTheText, AnIndexThatMayOnlyBeReadServesAWriterWhileNothingNeedsWriting) {
  rebuildIndex(open());
  const std::string index = get("shared/text.ix");
  env.setMode("shared/text.ix", 0444);
  const FortuneFile file = open();
  rebuildIndex(file);  // the same text: nothing to write
  EXPECT_EQ(getNumFortunes(file), 2);
  EXPECT_EQ(getFortune(file, 1), "B");
  // An append must write the index; a rebuild of a changed text too.
  const auto refused = [](const IOError& error) {
    EXPECT_EQ(error.path(), "shared/text.ix");
    EXPECT_EQ(error.errorCode(), EACCES);
    EXPECT_STREQ(error.what(), "shared/text.ix: open for writing: Permission denied");
  };
  refused(failureOf([&] { appendFortune(file, "C"); }));
  EXPECT_EQ(get("shared/text"), "A\n%\nB\n");
  put("shared/text", "A\n%\nB\n%\nC\n");
  refused(failureOf([&] { rebuildIndex(file); }));
  refused(failureOf([&] { rebuildIndex(open()); }));
  EXPECT_EQ(get("shared/text.ix"), index);
  EXPECT_TRUE(test::temporariesOf("shared/text.ix", env).empty());
}

}  // namespace
}  // namespace tallowmere
