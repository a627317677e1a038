// Installation directories and the search path, both taken from the environment.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include <tallowmere/Data/Fortune.hpp>
#include <tallowmere/Paths_tallowmere.hpp>
#include "Collection/CollectionSupport.hpp"
#include "InstallPrefix.hpp"
#include "Platform/LoadedObject.hpp"

namespace tallowmere {
namespace {

using test::ScopedEnvironment;
using test::TempDir;

TEST(InstallPaths, DefaultsDeriveFromThePrefixAndVariablesWin) {
  ScopedEnvironment env;
  for (const char* name : {"tallowmere_datadir", "tallowmere_bindir", "tallowmere_sysconfdir"}) {
    env.unset(name);
  }
  std::string prefix = detail::installPrefix;
  if (prefix.ends_with('/')) prefix.pop_back();
  EXPECT_EQ(getDataDir(), prefix + "/share/tallowmere");
  EXPECT_EQ(getBinDir(), prefix + "/bin");
  EXPECT_EQ(getSysconfDir(), prefix + "/etc");
  EXPECT_EQ(getLibDir(), prefix + "/lib/tallowmere-" + showVersion(version()));

  env.set("tallowmere_bindir", "/opt/b");
  EXPECT_EQ(getBinDir(), "/opt/b");
  env.set("tallowmere_datadir", "");
  EXPECT_EQ(getDataDir(), "");
}

TEST(InstallPaths, DataFileNameJoinsWithOneSlash) {
  ScopedEnvironment env;
  env.set("tallowmere_datadir", "/srv/t");
  EXPECT_EQ(getDataFileName("x/y"), "/srv/t/x/y");
  EXPECT_EQ(getDataFileName(""), "/srv/t");
  env.set("tallowmere_datadir", "/srv/t/");
  EXPECT_EQ(getDataFileName("x"), "/srv/t/x");
  env.set("tallowmere_datadir", "");
  EXPECT_EQ(getDataFileName("x"), "x");
  env.set("tallowmere_datadir", ".");
  EXPECT_EQ(getDataFileName("x"), "x");
}

// A copy moved to another prefix finds it from the file its code was loaded from.
TEST(InstallPaths, ThePrefixIsAboveTheDirectoryThatHoldsTheCode) {
  const std::array<std::string_view, 3> dirs = {"bin", "lib/x86_64-linux-gnu/", "/usr/lib"};
  EXPECT_EQ(detail::prefixAbove("/opt/t/bin/tallowmere", dirs), "/opt/t");
  EXPECT_EQ(detail::prefixAbove("/opt/t/lib/x86_64-linux-gnu/libtallowmere.so.0", dirs), "/opt/t");
  EXPECT_EQ(detail::prefixAbove("/bin/tallowmere", dirs), "/");
  // Whole names only, directly in the directory, and never an absolute one.
  EXPECT_EQ(detail::prefixAbove("/opt/t/sbin/tallowmere", dirs), std::nullopt);
  EXPECT_EQ(detail::prefixAbove("/opt/t/bin/tools/tallowmere", dirs), std::nullopt);
  EXPECT_EQ(detail::prefixAbove("/opt/t/lib/libtallowmere.so.0", dirs), std::nullopt);
  EXPECT_EQ(detail::prefixAbove("/usr/lib/libtallowmere.so.0", dirs), std::nullopt);
  EXPECT_EQ(detail::prefixAbove("tallowmere", dirs), std::nullopt);

  // The prefix counts only when its data directory is there; else the configured one does.
  TempDir root;
  std::filesystem::create_directories(root.path("bin"));
  std::filesystem::create_directories(root.path("share"));
  const std::string command = root.path("bin/tallowmere");
  EXPECT_EQ(detail::installedPrefix(command, dirs, "/configured"), "/configured");
  root.writeFile("share/tallowmere", "");
  EXPECT_EQ(detail::installedPrefix(command, dirs, "/configured"), "/configured");
  std::filesystem::remove(root.path("share/tallowmere"));
  std::filesystem::create_directories(root.path("share/tallowmere"));
  EXPECT_EQ(detail::installedPrefix(command, dirs, "/configured"), root.path());
}

TEST(InstallPaths, CodeIsLoadedFromTheProgramOrTheSharedLibraryThatHoldsIt) {
  static const int inTheProgram = 0;
  EXPECT_EQ(loadedObjectPath(&inTheProgram), std::filesystem::canonical("/proc/self/exe"));
  // stdout is an object of the C library.
  const std::string libc = loadedObjectPath(stdout);
  EXPECT_NE(libc.find("/libc."), std::string::npos) << libc;
  EXPECT_EQ(libc, std::filesystem::canonical(libc));
}

TEST(InstallPaths, VersionHasNumbersAndNoTags) {
  EXPECT_FALSE(version().versionBranch.empty());
  EXPECT_TRUE(version().versionTags.empty());
  EXPECT_EQ(showVersion(Version{{1, 20, 3}, {"rc"}}), "1.20.3-rc");
  EXPECT_EQ(pathSeparator, '/');
}

class SearchPathFromEnvironment : public ::testing::Test {
 protected:
  void SetUp() override { env.isolate(data.path()); }

  std::string dir(const std::string& name) {
    std::filesystem::create_directories(root.path(name));
    return root.path(name);
  }

  TempDir data;  // the data directory, empty unless a test fills it
  TempDir root;  // directories for the search-path variables
  ScopedEnvironment env;
};

TEST_F(SearchPathFromEnvironment, DefaultDirectoryBelowTheDataDirectory) {
  const std::string normal = data.path("data/normal");
  EXPECT_EQ(getFortuneSearchPath(FortuneType::Normal), SearchPath{});
  EXPECT_EQ(defaultFortuneSearchPath(FortuneType::Normal), (SearchPath{{normal, true}}));

  std::filesystem::create_directories(normal);
  EXPECT_EQ(getFortuneSearchPath(FortuneType::Normal), (SearchPath{{normal, true}}));
  EXPECT_EQ(getFortuneSearchPath(FortuneType::All), (SearchPath{{data.path("data"), true}}));
  EXPECT_EQ(getFortuneSearchPath(FortuneType::Offensive), SearchPath{});
}

TEST_F(SearchPathFromEnvironment, FortuneDirectoryJoinsTheDataDirectory) {
  env.set("tallowmere_datadir", "/opt/x/");
  EXPECT_EQ(getFortuneDir(FortuneType::All), "/opt/x/data");
  EXPECT_EQ(getFortuneDir(FortuneType::Offensive), "/opt/x/data/offensive");
  env.set("tallowmere_datadir", "");
  EXPECT_EQ(getFortuneDir(FortuneType::Normal), "data/normal");
}

TEST_F(SearchPathFromEnvironment, ElementsInOrderWithTheirPrefixes) {
  const std::string a = dir("a"), b = dir("b"), c = dir("c");
  env.set("TALLOWMERE_PATH", "+" + a + ":-" + b + ":" + c + ":");
  EXPECT_EQ(getFortuneSearchPath(FortuneType::Normal),
            (SearchPath{{a, true}, {b, false}, {c, false}}));

  std::filesystem::remove(b);
  EXPECT_EQ(getFortuneSearchPath(FortuneType::Normal), (SearchPath{{a, true}, {c, false}}));

  // Empty elements and a bare prefix name the empty directory, which never exists; a
  // directory may appear twice.
  env.set("TALLOWMERE_PATH", ":+:-::" + a + ":+" + a);
  EXPECT_EQ(getFortuneSearchPath(FortuneType::All), (SearchPath{{a, false}, {a, true}}));
}

TEST_F(SearchPathFromEnvironment, PerTypeVariableWinsEvenWhenEmpty) {
  std::filesystem::create_directories(data.path("data/normal"));
  const std::string a = dir("a"), b = dir("b");
  env.set("TALLOWMERE_PATH", a);
  env.set("TALLOWMERE_PATH_NORMAL", "");
  EXPECT_EQ(getFortuneSearchPath(FortuneType::Normal), SearchPath{});

  // Only the variable of its own type counts; the general one serves the others.
  env.set("TALLOWMERE_PATH_OFFENSIVE", "+" + b);
  EXPECT_EQ(getFortuneSearchPath(FortuneType::All), (SearchPath{{a, false}}));
  EXPECT_EQ(getFortuneSearchPath(FortuneType::Offensive), (SearchPath{{b, true}}));

  // A set variable that names nothing usable gives no fall-back to the default.
  env.unset("TALLOWMERE_PATH_NORMAL");
  env.set("TALLOWMERE_PATH", root.path("missing"));
  EXPECT_EQ(getFortuneSearchPath(FortuneType::Normal), SearchPath{});
}

TEST_F(SearchPathFromEnvironment, LinksToDirectoriesCountAndFilesDoNot) {
  const std::string a = dir("a");
  std::filesystem::create_directory_symlink(a, root.path("link"));
  const std::string file = root.writeFile("file", "x");
  env.set("TALLOWMERE_PATH_ALL", root.path("link") + ":" + file + ":+" + root.path("dangling"));
  std::filesystem::create_symlink(root.path("nowhere"), root.path("dangling"));
  EXPECT_EQ(getFortuneSearchPath(FortuneType::All), (SearchPath{{root.path("link"), false}}));
}

}  // namespace
}  // namespace tallowmere
