#include <tallowmere/Platform/File.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <tallowmere/Platform/Errors.hpp>
#include <tallowmere/Platform/MemoryEnv.hpp>
#include "support/TempDir.hpp"

namespace tallowmere {
namespace {

using test::TempDir;
using namespace std::string_literals;

// Runs `operation` and returns the errno of the platform IOError it throws (0 if none).
int errorOf(const std::function<void()>& operation, const std::string& expectedPath) {
  try {
    operation();
  } catch (const IOError& error) {
    EXPECT_EQ(error.kind(), IOError::Kind::System) << error.what();
    EXPECT_EQ(error.path(), expectedPath);
    return error.errorCode();
  }
  return 0;
}

// The two implementations, each made empty, readable and writable.
struct DiskFiles {
  static std::unique_ptr<File> create(const TempDir& dir) {
    return openFile(dir.path("data"), OpenMode::ReadWrite);
  }
  static std::string expectedName(const TempDir& dir) { return dir.path("data"); }
};

struct MemoryFiles {
  static std::unique_ptr<File> create(const TempDir&) { return createMemoryFile("<memory>"); }
  static std::string expectedName(const TempDir&) { return "<memory>"; }
};

template <class Files>
class FileBehaviour : public ::testing::Test {
 protected:
  std::string contents() {
    handle->seek(0);
    return handle->readToEnd();
  }

  TempDir dir;
  std::unique_ptr<File> handle = Files::create(dir);
};

// A file of the in-memory twin of the disk.
struct MemoryEnvFiles {
  static std::unique_ptr<File> create(const TempDir&) {
    static MemoryEnv env;
    return env.openFile("data", OpenMode::Truncate);
  }
  static std::string expectedName(const TempDir&) { return "data"; }
};

using Implementations = ::testing::Types<DiskFiles, MemoryFiles, MemoryEnvFiles>;
TYPED_TEST_SUITE(FileBehaviour, Implementations);

TYPED_TEST(FileBehaviour, ReadsAndWritesAtTheGivenOffsets) {
  File& file = *this->handle;
  EXPECT_EQ(file.name(), TypeParam::expectedName(this->dir));
  EXPECT_TRUE(file.isOpen());
  EXPECT_TRUE(file.atEnd());
  EXPECT_EQ(file.size(), 0);

  file.write("hello world");
  EXPECT_EQ(file.position(), 11);
  EXPECT_TRUE(file.atEnd());
  file.seek(1);
  file.write("EL");
  EXPECT_EQ(file.position(), 3);
  EXPECT_FALSE(file.atEnd());

  file.seek(6);
  EXPECT_EQ(file.read(5), "world");
  EXPECT_EQ(file.position(), 11);
  file.seek(0);
  char buffer[4];
  ASSERT_EQ(file.readSome(buffer, sizeof buffer), 4U);
  EXPECT_EQ(std::string(buffer, 4), "hELl");
  EXPECT_EQ(file.position(), 4);
  EXPECT_EQ(file.size(), 11);
  file.flush();
  EXPECT_EQ(this->contents(), "hELlo world");
}

TYPED_TEST(FileBehaviour, ReadsAtOrPastTheEndReturnFewerBytes) {
  File& file = *this->handle;
  file.write("fortune");
  file.seek(4);
  EXPECT_EQ(file.read(10), "une");
  EXPECT_EQ(file.position(), 7);
  char buffer[8];
  EXPECT_EQ(file.readSome(buffer, sizeof buffer), 0U);
  file.seek(100);
  EXPECT_TRUE(file.atEnd());
  EXPECT_EQ(file.read(3), "");
  EXPECT_EQ(file.readToEnd(), "");
  EXPECT_EQ(file.position(), 100);
  EXPECT_EQ(file.size(), 7);  // seeking alone does not extend the file
}

TYPED_TEST(FileBehaviour, HugeReadsReturnOnlyWhatTheFileHolds) {
  // A length taken from a corrupt header must not become an allocation of that size.
  File& file = *this->handle;
  file.write("tiny");
  file.seek(1);
  EXPECT_EQ(file.read(std::numeric_limits<std::size_t>::max()), "iny");
  EXPECT_EQ(file.read(std::numeric_limits<std::size_t>::max() / 2), "");
  file.seek(std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(file.read(std::numeric_limits<std::size_t>::max()), "");
}

TYPED_TEST(FileBehaviour, WritingBeyondTheEndFillsTheGapWithZeros) {
  File& file = *this->handle;
  file.write("ab");
  file.seek(5);
  file.write("");
  EXPECT_EQ(file.size(), 2);  // an empty write does not extend the file
  file.write("x");
  EXPECT_EQ(file.size(), 6);
  EXPECT_EQ(this->contents(), "ab\0\0\0x"s);
}

TYPED_TEST(FileBehaviour, SetSizeCutsOrExtendsAndKeepsThePosition) {
  File& file = *this->handle;
  file.write("abcdef");
  file.setSize(3);
  EXPECT_EQ(file.size(), 3);
  EXPECT_EQ(file.position(), 6);
  EXPECT_TRUE(file.atEnd());
  file.setSize(8);
  EXPECT_EQ(file.position(), 6);
  EXPECT_FALSE(file.atEnd());
  EXPECT_EQ(this->contents(), "abc\0\0\0\0\0"s);
  file.setSize(0);
  EXPECT_EQ(this->contents(), "");
}

TYPED_TEST(FileBehaviour, NegativeOffsetsAndSizesAreRejected) {
  File& file = *this->handle;
  const std::string name = TypeParam::expectedName(this->dir);
  file.write("abc");
  EXPECT_EQ(errorOf([&] { file.seek(-1); }, name), EINVAL);
  EXPECT_EQ(file.position(), 3);
  EXPECT_EQ(errorOf([&] { file.setSize(-1); }, name), EINVAL);
  EXPECT_EQ(file.size(), 3);
}

TYPED_TEST(FileBehaviour, EveryOperationAfterCloseFails) {
  File& file = *this->handle;
  const std::string name = TypeParam::expectedName(this->dir);
  file.write("gone");
  file.close();
  EXPECT_FALSE(file.isOpen());
  EXPECT_EQ(file.name(), name);
  char buffer[4];
  const std::vector<std::function<void()>> operations = {
      [&] { file.seek(0); },
      [&] { (void)file.position(); },
      [&] { file.readSome(buffer, sizeof buffer); },
      [&] { (void)file.read(4); },
      [&] { file.readToEnd(); },
      [&] { file.write("x"); },
      [&] { file.flush(); },
      [&] { (void)file.size(); },
      [&] { file.setSize(0); },
      [&] { (void)file.atEnd(); },
  };
  for (std::size_t i = 0; i < operations.size(); ++i) {
    EXPECT_EQ(errorOf(operations[i], name), EBADF) << "operation " << i;
  }
  EXPECT_NO_THROW(file.close());
  EXPECT_FALSE(file.isOpen());
}

TYPED_TEST(FileBehaviour, ConcurrentSeekAndWriteUnderAnExternalLockGiveExactBytes) {
  File& file = *this->handle;
  constexpr int threads = 4;
  constexpr int recordsPerThread = 200;
  constexpr int recordLength = 8;
  auto record = [](int n) {
    std::string text = std::to_string(n);
    return std::string(recordLength - text.size(), 'r') + text;
  };

  std::mutex external;
  std::atomic<bool> writing{true};
  // Unlocked queries alongside the writers must never see a torn state or crash.
  std::thread observer([&] {
    while (writing.load()) {
      const std::int64_t size = file.size();
      EXPECT_GE(size, 0);
      EXPECT_LE(size, threads * recordsPerThread * recordLength);
      (void)file.atEnd();
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([&, t] {
      // Each thread owns every threads-th record, written from the back to the front.
      for (int i = recordsPerThread - 1; i >= 0; --i) {
        const int n = i * threads + t;
        std::lock_guard<std::mutex> lock(external);
        file.seek(std::int64_t{n} * recordLength);
        file.write(record(n));
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  writing.store(false);
  observer.join();

  std::string expected;
  for (int n = 0; n < threads * recordsPerThread; ++n) expected += record(n);
  EXPECT_EQ(this->contents(), expected);
}

TYPED_TEST(FileBehaviour, CloseWhileAnotherThreadUsesTheFileFailsCleanly) {
  File& file = *this->handle;
  file.write(std::string(4096, 'z'));
  std::atomic<bool> started{false};
  std::thread reader([&] {
    try {
      for (;;) {
        file.seek(0);
        EXPECT_EQ(file.read(4096).size(), 4096U);
        started.store(true);
      }
    } catch (const IOError& error) {
      EXPECT_EQ(error.errorCode(), EBADF);
    }
    started.store(true);
  });
  while (!started.load()) std::this_thread::yield();
  file.close();
  reader.join();
}

// Opening files on disk.
class DiskFileOpen : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(DiskFileOpen, ReadOnlyOpenOfAMissingFileFailsWithItsPath) {
  const std::string path = dir.path("missing");
  try {
    (void)openFile(path, OpenMode::ReadOnly);
    FAIL() << "opened a missing file";
  } catch (const IOError& error) {
    EXPECT_EQ(error.errorCode(), ENOENT);
    EXPECT_EQ(error.path(), path);
    EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(DiskFileOpen, ReadWriteOpenCreatesAMissingFileAndNeverTruncates) {
  auto created = openFile(dir.path("new"), OpenMode::ReadWrite);
  EXPECT_EQ(created->size(), 0);
  created->close();
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.path("new")));

  dir.writeFile("old", "kept bytes");
  auto existing = openFile(dir.path("old"), OpenMode::ReadWrite);
  EXPECT_EQ(existing->position(), 0);
  EXPECT_EQ(existing->readToEnd(), "kept bytes");
  existing->seek(0);
  existing->write("KEPT");
  existing->close();
  EXPECT_EQ(dir.readFile("old"), "KEPT bytes");
}

TEST_F(DiskFileOpen, ADirectoryIsRefusedInEitherMode) {
  std::filesystem::create_directory(dir.path("sub"));
  for (OpenMode mode : {OpenMode::ReadOnly, OpenMode::ReadWrite}) {
    EXPECT_EQ(errorOf([&] { (void)openFile(dir.path("sub"), mode); }, dir.path("sub")), EISDIR);
  }
}

TEST_F(DiskFileOpen, AReadOnlyFileRefusesEveryChange) {
  dir.writeFile("fixed", "unchanged");
  auto file = openFile(dir.path("fixed"), OpenMode::ReadOnly);
  EXPECT_EQ(file->read(2), "un");
  EXPECT_NE(errorOf([&] { file->write("XX"); }, dir.path("fixed")), 0);
  EXPECT_NE(errorOf([&] { file->setSize(0); }, dir.path("fixed")), 0);
  EXPECT_EQ(file->position(), 2);
  EXPECT_EQ(file->readToEnd(), "changed");
  file->close();
  EXPECT_EQ(dir.readFile("fixed"), "unchanged");
}

}  // namespace
}  // namespace tallowmere
