// The file-system interface: the disk and its in-memory twin behave alike, and the twin loses
// what was never synced as a machine that loses power does.
#include <tallowmere/Platform/Env.hpp>

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
};

struct MemoryEnvs {
  MemoryEnv env;
  std::string path(const std::string& name) const { return "top/" + name; }
  MemoryEnvs() { env.createDirectory("top"); }
  void makeDirectory(const std::string& name) { env.createDirectory(path(name)); }
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
