// Opening, repairing, closing an index, and the guarded access paths.
#include <gtest/gtest.h>

#include <string>

#include <tallowmere/Data/Fortune/Index.hpp>
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

using test::TempDir;

// Header bytes followed by the encoded entries.
std::string indexBytes(const Header& header, std::initializer_list<IndexEntry> entries) {
  std::string bytes = encodeHeader(header);
  for (const IndexEntry& e : entries) bytes += encodeIndexEntry(e);
  return bytes;
}

const FortuneStats kThreeValid{3, 300, 10, 50, 1, 4};

class IndexHandle : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(IndexHandle, WritableOpenOfMissingFileCreatesEmptyHeader) {
  const Index index = openIndex(dir.path("new.ix"), true);
  EXPECT_EQ(dir.readFile("new.ix"), encodeHeader(emptyHeader));
  EXPECT_EQ(getStats(index), FortuneStats::mempty);
  closeIndex(index);
}

TEST_F(IndexHandle, ReadOnlyOpenNeverCreatesOrInitialises) {
  try {
    (void)openIndex(dir.path("missing.ix"), false);
    FAIL() << "opened a missing file";
  } catch (const IOError& e) {
    EXPECT_EQ(e.kind(), IOError::Kind::System);
    EXPECT_EQ(e.errorCode(), ENOENT);
  }
  dir.writeFile("empty.ix", "");
  try {
    (void)openIndex(dir.path("empty.ix"), false);
    FAIL() << "opened an empty file";
  } catch (const IOError& e) {
    EXPECT_TRUE(e.isUserError());
    EXPECT_NE(std::string(e.what()).find("too few bytes"), std::string::npos);
  }
  EXPECT_EQ(dir.readFile("empty.ix"), "");
}

TEST_F(IndexHandle, WritableOpenDoesNotInitialiseAShortFile) {
  dir.writeFile("short.ix", encodeHeader(emptyHeader).substr(0, 10));
  EXPECT_THROW((void)openIndex(dir.path("short.ix"), true), IOError);
  dir.writeFile("garbage.ix", "0123456789");
  EXPECT_THROW((void)openIndex(dir.path("garbage.ix"), true), HeaderProblemError);
  EXPECT_EQ(dir.readFile("garbage.ix"), "0123456789");
}

TEST_F(IndexHandle, TableMustFitInTheFile) {
  const std::string full =
      indexBytes({kThreeValid, 64}, {{0, 1, 10, 1}, {1, 1, 50, 4}, {2, 298, 30, 2}});
  ASSERT_EQ(full.size(), 112u);
  dir.writeFile("short.ix", full.substr(0, 111));
  try {
    (void)openIndex(dir.path("short.ix"), false);
    FAIL() << "opened a cut table";
  } catch (const HeaderProblemError&) {
    FAIL() << "a table problem is not a header problem";
  } catch (const IndexProblemError& e) {
    EXPECT_EQ(e.problem(), IndexProblem::TableLongerThanFile());
    EXPECT_STREQ(e.what(), "TableLongerThanFile");
  }
  dir.writeFile("exact.ix", full);
  EXPECT_EQ(getStats(openIndex(dir.path("exact.ix"), false)), kThreeValid);
}

TEST_F(IndexHandle, TableStartingInsideTheHeaderIsRejected) {
  dir.writeFile("loc.ix", indexBytes({kThreeValid, 32}, {}));
  try {
    (void)openIndex(dir.path("loc.ix"), false);
    FAIL();
  } catch (const HeaderProblemError& e) {
    EXPECT_EQ(e.problem(),
              IndexProblem::HeaderProblem(HeaderProblem::TableStartsBeforeHeaderEnds()));
    EXPECT_STREQ(e.what(), "HeaderProblem TableStartsBeforeHeaderEnds");
  }
}

TEST_F(IndexHandle, InvalidStatisticsAreRebuiltInMemoryOnly) {
  const std::string bytes = indexBytes({{2, 0, 5, 3, 0, 0}, 64}, {{0, 10, 8, 2}, {11, 5, 4, 1}});
  dir.writeFile("bad.ix", bytes);
  const Index index = openIndex(dir.path("bad.ix"), true);
  EXPECT_EQ(getStats(index), (FortuneStats{2, 16, 4, 8, 1, 2}));
  EXPECT_EQ(dir.readFile("bad.ix"), bytes);
  rebuildStats(index);  // stores the repair, although the statistics in memory stay the same
  EXPECT_EQ(decodeHeader(dir.readFile("bad.ix")).stats, (FortuneStats{2, 16, 4, 8, 1, 2}));
}

TEST_F(IndexHandle, RepairedEmptyTableMustStillStartInsideTheFile) {
  dir.writeFile("far.ix", indexBytes({{0, 0, 5, 3, 0, 0}, 1000}, {}));
  try {
    (void)openIndex(dir.path("far.ix"), true);
    FAIL() << "opened a table that starts beyond the end of the file";
  } catch (const IndexProblemError& e) {
    EXPECT_EQ(e.problem(), IndexProblem::TableLongerThanFile());
  }
}

TEST_F(IndexHandle, RepairOfACutTableFailsWithTooFewBytes) {
  dir.writeFile("cut.ix", indexBytes({{2, 0, 5, 3, 0, 0}, 64}, {{0, 10, 8, 2}}));
  try {
    (void)openIndex(dir.path("cut.ix"), false);
    FAIL();
  } catch (const IOError& e) {
    EXPECT_TRUE(e.isUserError());
    EXPECT_NE(std::string(e.what()).find("too few bytes"), std::string::npos);
  }
}

TEST_F(IndexHandle, VirtualIndexStartsEmptyAndGrows) {
  const Index index = createVirtualIndex();
  EXPECT_EQ(getStats(index), FortuneStats::mempty);
  withIndex(index, [](File& file, const CurrentHeader& header) {
    EXPECT_EQ(header.indexLoc(), 64);
    EXPECT_EQ(header.numFortunes(), 0);
    EXPECT_EQ(file.name(), "<createVirtualIndex>");
  });
  appendEntry(index, {0, 5, 5, 1});
  EXPECT_EQ(getStats(index).numFortunes, 1);
}

TEST_F(IndexHandle, ClosedIndexRefusesUseAndClosesTwice) {
  const Index index = openIndex(dir.path("c.ix"), true);
  const Index copy = index;
  closeIndex(index);
  try {
    (void)getStats(copy);
    FAIL();
  } catch (const IndexProblemError& e) {
    EXPECT_EQ(e.problem(), IndexProblem::AccessToClosedIndex());
    EXPECT_STREQ(e.what(), "AccessToClosedIndex");
  }
  EXPECT_THROW((void)getEntry(copy, 0), IndexProblemError);
  EXPECT_THROW((void)getEntries(copy), IndexProblemError);
  EXPECT_THROW(appendEntry(copy, {0, 1, 1, 1}), IndexProblemError);
  EXPECT_THROW(clearIndex(copy), IndexProblemError);
  EXPECT_EQ(checkIndex(copy), IndexProblem::AccessToClosedIndex());
  appendEntries(copy, {});  // an empty append never looks at the index
  EXPECT_NO_THROW(closeIndex(copy));
}

TEST_F(IndexHandle, FailedActionLeavesTheIndexUsable) {
  const Index index = openIndex(dir.path("a.ix"), true);
  EXPECT_THROW(withIndex(index, [](File&, const CurrentHeader&) { throw std::runtime_error("x"); }),
               std::runtime_error);
  EXPECT_EQ(withIndex(index, [](File&, const CurrentHeader& h) { return h.numFortunes(); }), 0);
}

TEST_F(IndexHandle, ActionThatUsesItsOwnIndexIsAUsageError) {
  const Index index = openIndex(dir.path("r.ix"), true);
  EXPECT_THROW(withIndex(index, [&](File&, const CurrentHeader&) { return getEntries(index); }),
               UsageError);
  EXPECT_THROW(modifyHeader(index,
                            [&](File&, const CurrentHeader& h) {
                              (void)getStats(index);
                              return h.get();
                            }),
               UsageError);
  appendEntry(index, {0, 1, 1, 1});  // and the lock is free again
  EXPECT_EQ(getStats(index).numFortunes, 1);
}

TEST_F(IndexHandle, UnchangedHeaderIsNotWritten) {
  const Index index = openIndex(dir.path("u.ix"), true);
  appendEntry(index, {0, 3, 3, 1});
  // Scribble over the stored header: an unchanged header must not be written back.
  withIndex(index, [](File& file, const CurrentHeader&) {
    file.seek(40);
    file.write("scribble");
  });
  modifyHeader(index, [](File&, const CurrentHeader& h) { return h.get(); });
  EXPECT_EQ(dir.readFile("u.ix").substr(40, 8), "scribble");
}

TEST_F(IndexHandle, InvalidNewHeaderIsRaisedAndNeverWritten) {
  const Index index = openIndex(dir.path("v.ix"), true);
  appendEntry(index, {0, 3, 3, 1});
  const std::string before = dir.readFile("v.ix");
  const FortuneStats stats = getStats(index);
  try {
    modifyHeader(index, [](File&, const CurrentHeader& h) { return Header{h.get().stats, 10}; });
    FAIL();
  } catch (const HeaderProblemError& e) {
    EXPECT_EQ(e.headerProblem(), HeaderProblem::TableStartsBeforeHeaderEnds());
  }
  EXPECT_EQ(getStats(index), stats);
  EXPECT_EQ(dir.readFile("v.ix"), before);
  EXPECT_EQ(getStats(openIndex(dir.path("v.ix"), false)), stats);
}

TEST_F(IndexHandle, GuardedActionValidatesTheHeaderAgainstTheFile) {
  const Index index = openIndex(dir.path("t.ix"), true);
  appendEntries(index, std::vector<IndexEntry>(3, {0, 1, 1, 1}));
  try {
    withIndex(index, [](File& file, const CurrentHeader&) { file.setSize(100); });
    FAIL();
  } catch (const IndexProblemError& e) {
    EXPECT_EQ(e.problem(), IndexProblem::TableLongerThanFile());
  }
  EXPECT_EQ(checkIndex(index), IndexProblem::TableLongerThanFile());
}

TEST_F(IndexHandle, ProblemHandlersSeeOnlyTheirConversions) {
  dir.writeFile("zero.ix", std::string(64, '\0'));
  try {
    (void)openIndex(dir.path("zero.ix"), false);
  } catch (const IndexProblemError& e) {
    EXPECT_EQ(e.problem(), IndexProblem::HeaderProblem(HeaderProblem::BadMagicNumber(0)));
  }
  bool ioErrorPassed = false;
  try {
    try {
      (void)openIndex(dir.path("absent.ix"), false);
    } catch (const IndexProblemError&) {
      FAIL() << "an I/O error is not an index problem";
    }
  } catch (const IOError&) {
    ioErrorPassed = true;
  }
  EXPECT_TRUE(ioErrorPassed);
}

}  // namespace
}  // namespace tallowmere
