// Listing and finding fortune files by walking a real directory tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune.hpp>
#include "Collection/CollectionSupport.hpp"
#include "support/FaultyFile.hpp"
#include "support/ForwardingEnv.hpp"

namespace tallowmere {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnvironment;
using test::TempDir;
using Paths = std::vector<std::string>;

// The walk keeps the system's listing order; tests that do not care about it compare sorted.
Paths sorted(Paths paths) {
  std::sort(paths.begin(), paths.end());
  return paths;
}

// root/
//   cookies  cookies.dat  b.tar.dat  notes.ix  c.DAT  d.  .hidden
//   more/wisdom
//   more/self -> ../more      (a cycle back to more)
//   loop -> .                 (a cycle back to root)
//   .secret/buried            (hidden directory)
//   elsewhere -> <other>      (link to a directory outside the tree: <other>/linked)
//   dangling -> root/nowhere
class FortuneFileWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"cookies", "cookies.dat", "b.tar.dat", "notes.ix", "c.DAT", "d.",
                             ".hidden", "more/wisdom", ".secret/buried"}) {
      fs::create_directories(fs::path(root.path(name)).parent_path());
      root.writeFile(name, "saying\n");
    }
    fs::create_directory_symlink("../more", root.path("more/self"));
    fs::create_directory_symlink(".", root.path("loop"));
    other.writeFile("linked", "elsewhere\n");
    fs::create_directory_symlink(other.path(), root.path("elsewhere"));
    fs::create_symlink(root.path("nowhere"), root.path("dangling"));
  }

  std::string at(const std::string& name) const { return root.path(name); }

  TempDir root;
  TempDir other;
};

TEST_F(FortuneFileWalk, AFailingStepFailsTheWalkOrCountsAsNoDirectory) {
  const Paths whole = sorted(listFortuneFiles(true, root.path()));
  const auto plan = std::make_shared<test::Plan>();
  test::FaultyEnv faulty(Env::disk(), plan);
  long k = 1;
  for (;; ++k) {
    plan->arm(k);
    try {
      const Paths found = sorted(listFortuneFiles(true, root.path(), faulty));
      // A status query that failed counts as "not a directory": a directory may then be
      // listed as a file and what is below it left out, or (the start directory's) a link
      // back to it followed once more. The walk still ends, with paths that exist.
      if (!plan->fired()) {
        EXPECT_EQ(found, whole);
      }
      for (const std::string& path : found) {
        EXPECT_TRUE(fs::exists(fs::symlink_status(path))) << path << ", step " << k;
      }
    } catch (const IOError& error) {
      EXPECT_EQ(error.errorCode(), EIO) << "step " << k;
    }
    if (!plan->fired()) break;
  }
  EXPECT_GT(k, 10);
}

// The disk, except that one directory cannot be listed.
class OneUnreadableDirectory : public test::ForwardingEnv {
 public:
  explicit OneUnreadableDirectory(std::string unreadable)
      : ForwardingEnv(Env::disk()), unreadable_(std::move(unreadable)) {}
  std::vector<std::string> listDirectory(const std::string& path) override {
    if (path == unreadable_) throw IOError::system(EACCES, path, "opendir");
    return inner_.listDirectory(path);
  }

 private:
  std::string unreadable_;
};

TEST_F(FortuneFileWalk, AWalkThatGoesOnReportsUnreadableSubdirectoriesAndNamesEveryFile) {
  OneUnreadableDirectory env(at("more"));
  std::vector<std::string> reported;
  const auto found = walkFortuneFiles(
      true, root.path(), [&](const IOError& error) { reported.push_back(error.path()); }, env);
  Paths paths;
  for (const FoundFortuneFile& file : found) {
    paths.push_back(file.path);
    EXPECT_EQ(file.identity, Env::disk().status(file.path).identity) << file.path;
  }
  // "more" is reached twice (also through the link loop), and skipped each time.
  EXPECT_EQ(sorted(paths),
            sorted({at("cookies"), at("c.DAT"), at("d."), at("dangling"), at("elsewhere/linked")}));
  EXPECT_FALSE(reported.empty());
  for (const std::string& path : reported) EXPECT_EQ(fs::path(path).filename(), "more");
  // The start directory still fails the walk.
  EXPECT_THROW((void)walkFortuneFiles(
                   true, at("more"), [](const IOError&) {}, env),
               IOError);
}

TEST_F(FortuneFileWalk, RecursiveListingSkipsHiddenAndIndexNames) {
  EXPECT_EQ(sorted(listFortuneFiles(true, root.path())),
            sorted({at("cookies"), at("c.DAT"), at("d."), at("more/wisdom"), at("dangling"),
                    at("elsewhere/linked")}));
}

TEST_F(FortuneFileWalk, FlatListingStaysAtTheTop) {
  EXPECT_EQ(sorted(listFortuneFiles(false, root.path())),
            sorted({at("cookies"), at("c.DAT"), at("d."), at("dangling")}));
}

TEST_F(FortuneFileWalk, DirectoryOnTheWayDownIsNotEnteredAgain) {
  // A second way into a directory that is not an ancestor is walked again: only cycles stop.
  fs::create_directory_symlink(at("more"), at("again"));
  EXPECT_EQ(listFortuneFiles(true, at("more")), Paths{at("more/wisdom")});
  const Paths all = listFortuneFiles(true, root.path());
  EXPECT_EQ(std::count(all.begin(), all.end(), at("again/wisdom")), 1);
  EXPECT_EQ(std::count(all.begin(), all.end(), at("more/wisdom")), 1);
}

TEST_F(FortuneFileWalk, JoinsRelativeStartDirectories) {
  const fs::path saved = fs::current_path();
  fs::current_path(root.path());
  Paths found;
  EXPECT_NO_THROW(found = listFortuneFiles(true, "more"));
  fs::current_path(saved);
  EXPECT_EQ(found, Paths{"more/wisdom"});
}

TEST_F(FortuneFileWalk, FindsByExactEntryName) {
  EXPECT_EQ(findFortuneFile(true, root.path(), "wisdom"), Paths{at("more/wisdom")});
  EXPECT_EQ(findFortuneFile(false, root.path(), "wisdom"), Paths{});
  // Index files are found when named; hidden names and paths never match.
  EXPECT_EQ(findFortuneFile(false, root.path(), "notes.ix"), Paths{at("notes.ix")});
  EXPECT_EQ(findFortuneFile(true, root.path(), ".hidden"), Paths{});
  EXPECT_EQ(findFortuneFile(true, root.path(), "more/wisdom"), Paths{});
  EXPECT_EQ(findFortuneFile(true, root.path(), at("cookies")), Paths{});
}

TEST_F(FortuneFileWalk, SearchPathsConcatenateEntryByEntryAndNameByName) {
  const SearchPath path{{at("more"), false}, {root.path(), false}, {at("more"), true}};
  EXPECT_EQ(findFortuneFileIn(path, "wisdom"), (Paths{at("more/wisdom"), at("more/wisdom")}));
  EXPECT_EQ(findFortuneFilesIn(path, {"cookies", "missing", "wisdom"}),
            (Paths{at("cookies"), at("more/wisdom"), at("more/wisdom")}));
  const Paths listed = listFortuneFilesIn(path);
  ASSERT_EQ(listed.size(), 6u);
  EXPECT_EQ(listed.front(), at("more/wisdom"));
  EXPECT_EQ(listed.back(), at("more/wisdom"));
}

TEST_F(FortuneFileWalk, ResolvesAlongTheSearchPathOfAType) {
  ScopedEnvironment env;
  TempDir data;
  env.isolate(data.path());
  env.set("TALLOWMERE_PATH_OFFENSIVE", "+" + root.path());
  EXPECT_EQ(resolveFortuneFile(FortuneType::Offensive, "wisdom"), Paths{at("more/wisdom")});
  EXPECT_EQ(resolveFortuneFiles(FortuneType::Offensive, {"linked", "cookies"}),
            (Paths{at("elsewhere/linked"), at("cookies")}));
  EXPECT_EQ(resolveFortuneFile(FortuneType::Offensive, at("cookies")), Paths{});
  EXPECT_EQ(resolveFortuneFile(FortuneType::Normal, "cookies"), Paths{});
  EXPECT_EQ(sorted(defaultFortuneFiles(FortuneType::Offensive)),
            sorted(listFortuneFiles(true, root.path())));
}

TEST_F(FortuneFileWalk, UnreadableStartDirectoryFails) {
  for (const std::string& start : {at("nowhere"), at("cookies"), std::string()}) {
    try {
      (void)listFortuneFiles(true, start);
      ADD_FAILURE() << "listed " << start;
    } catch (const IOError& e) {
      EXPECT_FALSE(e.isUserError());
      EXPECT_EQ(e.path(), start);
    }
  }
}

}  // namespace
}  // namespace tallowmere
