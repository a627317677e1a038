// The file-system interface: the disk and its in-memory twin behave alike, and the twin loses
// what was never synced as a machine that loses power does.
#include <tallowmere/Platform/Env.hpp>

#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include <tallowmere/Platform/Errors.hpp>
#include <tallowmere/Platform/MemoryEnv.hpp>
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

struct DiskEnvs {
  test::TempDir dir;
  Env& env = Env::disk();
  std::string path(const std::string& name) const { return dir.path(name); }
  void makeDirectory(const std::string& name) { std::filesystem::create_directory(path(name)); }
  void link(const std::string& target, const std::string& name) {
    std::filesystem::create_symlink(target, path(name));
  }
  void setMode(const std::string& name, std::uint32_t mode) {
    ASSERT_EQ(::chmod(path(name).c_str(), static_cast<mode_t>(mode)), 0);
  }
  std::uint32_t setUmask(std::uint32_t mask) { return ::umask(static_cast<mode_t>(mask)); }
};

struct MemoryEnvs {
  MemoryEnv env;
  std::string path(const std::string& name) const { return "top/" + name; }
  MemoryEnvs() { env.createDirectory("top"); }
  void makeDirectory(const std::string& name) { env.createDirectory(path(name)); }
  void link(const std::string& target, const std::string& name) {
    env.createSymbolicLink(target, path(name));
  }
  void setMode(const std::string& name, std::uint32_t mode) { env.setMode(path(name), mode); }
  std::uint32_t setUmask(std::uint32_t mask) { return env.setUmask(mask); }
};

template <class Envs>
class EnvBehaviour : public ::testing::Test {
 protected:
  void put(const std::string& name, const std::string& bytes) {
    auto file = envs.env.openFile(envs.path(name), OpenMode::Truncate);
    file->writeAt(0, bytes);
    file->close();
  }
  std::string get(const std::string& name) {
    return envs.env.openFile(envs.path(name), OpenMode::ReadOnly)->readAt(0, 1 << 20);
  }
  int errorOf(const std::function<void()>& operation) {
    try {
      operation();
    } catch (const IOError& error) {
      return error.errorCode();
    }
    return 0;
  }

  Envs envs;
};

using Implementations = ::testing::Types<DiskEnvs, MemoryEnvs>;
TYPED_TEST_SUITE(EnvBehaviour, Implementations);

TYPED_TEST(EnvBehaviour, NamesFilesAndDirectoriesAndReplacesByRenaming) {
  Env& env = this->envs.env;
  const auto path = [this](const std::string& name) { return this->envs.path(name); };
  this->envs.makeDirectory("sub");
  this->put("a", "first");
  this->put("b", "second");
  EXPECT_EQ(env.status(path("a")).kind, FileKind::Regular);
  EXPECT_EQ(env.status(path("a")).size, 5);
  EXPECT_TRUE(env.status(path("sub")).isDirectory());
  EXPECT_FALSE(env.status(path("missing")).exists());
  EXPECT_FALSE(env.status("").exists());

  auto names = env.listDirectory(path(""));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a", "b", "sub"}));

  // A handle keeps its file when another is renamed over the path.
  auto held = env.openFile(path("a"), OpenMode::ReadOnly);
  const FileIdentity before = env.status(path("a")).identity;
  EXPECT_EQ(held->identity(), before);
  env.renameFile(path("b"), path("a"));
  EXPECT_NE(env.status(path("a")).identity, before);
  EXPECT_EQ(held->readAt(0, 100), "first");
  EXPECT_EQ(this->get("a"), "second");
  EXPECT_FALSE(env.status(path("b")).exists());
  env.removeFile(path("a"));
  EXPECT_FALSE(env.status(path("a")).exists());
  env.syncDirectory(path(""));

  EXPECT_EQ(this->errorOf([&] { (void)env.openFile(path("a"), OpenMode::ReadOnly); }), ENOENT);
  EXPECT_EQ(this->errorOf([&] { (void)env.openFile(path("sub"), OpenMode::ReadWrite); }), EISDIR);
  EXPECT_EQ(this->errorOf([&] { env.removeFile(path("a")); }), ENOENT);
  EXPECT_EQ(this->errorOf([&] { (void)env.listDirectory(path("missing")); }), ENOENT);
  EXPECT_EQ(this->errorOf([&] { (void)env.openFile(path("no/such"), OpenMode::ReadWrite); }),
            ENOENT);
}

TYPED_TEST(EnvBehaviour, AnExclusiveLockWaitsForEveryOtherHandle) {
  Env& env = this->envs.env;
  this->put("f", "");
  auto reader = env.openFile(this->envs.path("f"), OpenMode::ReadOnly);
  auto other = env.openFile(this->envs.path("f"), OpenMode::ReadOnly);
  auto writer = env.openFile(this->envs.path("f"), OpenMode::ReadWrite);
  auto shared = env.lockFile(*reader, LockMode::Shared);
  auto alsoShared = env.lockFile(*other, LockMode::Shared);  // shared locks admit each other
  std::atomic<bool> locked = false;
  std::thread waiting([&] {
    auto exclusive = env.lockFile(*writer, LockMode::Exclusive);
    locked = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(locked);
  shared.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(locked);
  alsoShared.reset();
  waiting.join();
  EXPECT_TRUE(locked);
}

// What another user may plant at a name where a writer is about to write: a link to a file of
// the writer's own, or to one that does not exist yet.
TYPED_TEST(EnvBehaviour, ANewFileOrOneOpenedWithoutFollowingNeverGoesThroughALink) {
  Env& env = this->envs.env;
  const auto path = [this](const std::string& name) { return this->envs.path(name); };
  this->put("notes", "mine");
  this->envs.link("notes", "planted");
  this->envs.link("nowhere", "dangling");
  EXPECT_EQ(env.linkStatus(path("planted")).kind, FileKind::SymbolicLink);
  EXPECT_EQ(env.linkStatus(path("dangling")).kind, FileKind::SymbolicLink);
  EXPECT_EQ(env.linkStatus(path("notes")).kind, FileKind::Regular);
  EXPECT_EQ(env.status(path("planted")).kind, FileKind::Regular);
  EXPECT_FALSE(env.status(path("dangling")).exists());
  for (const char* name : {"planted", "dangling", "notes"}) {
    EXPECT_EQ(this->errorOf([&] { (void)env.openFile(path(name), OpenMode::CreateNew); }), EEXIST)
        << name;
  }
  for (const char* name : {"planted", "dangling"}) {
    EXPECT_EQ(this->errorOf([&] { (void)env.openFile(path(name), OpenMode::ReadWriteNoFollow); }),
              ELOOP)
        << name;
  }
  EXPECT_EQ(this->get("notes"), "mine");
  EXPECT_FALSE(env.status(path("nowhere")).exists());
  // Without the flag a link is followed, as a text file reached through one must be.
  env.openFile(path("planted"), OpenMode::ReadWrite)->writeAt(4, "!");
  EXPECT_EQ(this->get("notes"), "mine!");
  // Removing or renaming a link acts on the link.
  env.renameFile(path("planted"), path("moved"));
  env.removeFile(path("moved"));
  EXPECT_EQ(this->get("notes"), "mine!");

  // A new file is its owner's alone until given the mode of another.
  const std::uint32_t umask = this->envs.setUmask(0);
  const auto fresh = env.openFile(path("fresh"), OpenMode::CreateNew);
  this->envs.setUmask(umask);
  EXPECT_EQ(env.status(path("fresh")).mode, 0600u);
  this->envs.setMode("notes", 0640);
  env.copyModeAndGroup(*fresh, path("notes"));
  EXPECT_EQ(env.status(path("fresh")).mode, 0640u);
  EXPECT_EQ(this->errorOf([&] { env.copyModeAndGroup(*fresh, path("dangling")); }), ENOENT);
}

// replaceFileWhole, through either Env: a link planted at the temporary's old fixed name is
// removed, never written through; a link at the file's own path is refused; the new file has the
// mode of the old one (or of the model), whatever the umask.
TYPED_TEST(EnvBehaviour, ReplacingAFileWholeGoesThroughNoLinkAndKeepsTheMode) {
  Env& env = this->envs.env;
  const auto path = [this](const std::string& name) { return this->envs.path(name); };
  this->put("notes", "mine");
  this->put("data", "old");
  this->envs.setMode("data", 0644);
  this->envs.link("notes", ".data.tmp");
  const std::uint32_t umask = this->envs.setUmask(077);
  replaceFileWhole(env, path("data"), "new", true);
  replaceFileWhole(env, path("fresh"), "x", true, path("data"));
  this->envs.setUmask(umask);
  EXPECT_EQ(this->get("data"), "new");
  EXPECT_EQ(this->get("notes"), "mine");
  EXPECT_EQ(env.linkStatus(path("data")).kind, FileKind::Regular);
  EXPECT_EQ(env.status(path("data")).mode, 0644u);
  EXPECT_EQ(env.status(path("fresh")).mode, 0644u);

  this->envs.link("notes", "linked");
  try {
    replaceFileWhole(env, path("linked"), "new", true);
    ADD_FAILURE() << "a link was replaced";
  } catch (const IOError& error) {
    EXPECT_EQ(error.reason(), ErrorReason::PermissionDenied);
    EXPECT_EQ(error.path(), path("linked"));
    EXPECT_THAT(error.what(), ::testing::HasSubstr("linked: is a symbolic link; "));
  }
  EXPECT_EQ(env.linkStatus(path("linked")).kind, FileKind::SymbolicLink);
  EXPECT_EQ(this->get("notes"), "mine");
  auto names = env.listDirectory(path(""));  // no temporary left, the old one gone
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "data", "fresh", "linked", "notes"}));
}

TEST(MemoryEnvPowerLoss, OnlyWhatWasSyncedSurvives) {
  MemoryEnv env;
  env.createDirectory("d");
  const auto write = [&](const std::string& path, const std::string& bytes, bool sync) {
    auto file = env.openFile(path, OpenMode::ReadWrite);
    file->writeAt(file->size(), bytes);
    if (sync) file->sync();
  };
  write("d/kept", "synced", true);
  write("d/renamed", "synced", true);
  env.syncDirectory("d");
  write("d/kept", " and not", false);
  write("d/new", "synced, but its directory not", true);
  env.renameFile("d/renamed", "d/moved");
  env.loseUnsyncedData();
  EXPECT_EQ(env.openFile("d/kept", OpenMode::ReadOnly)->readAt(0, 100), "synced");
  EXPECT_FALSE(env.status("d/new").exists());
  EXPECT_TRUE(env.status("d/renamed").exists());
  EXPECT_FALSE(env.status("d/moved").exists());

  // A file the system wrote back on its own keeps what it held.
  write("d/kept", " again", false);
  env.loseUnsyncedData([](const std::string& path) { return path == "d/kept"; });
  EXPECT_EQ(env.openFile("d/kept", OpenMode::ReadOnly)->readAt(0, 100), "synced again");
}

}  // namespace
}  // namespace tallowmere
