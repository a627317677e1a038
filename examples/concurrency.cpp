// One fortune file written at once by several threads through one handle, by several processes
// each with a handle of its own, and by a program that edits the text itself under the lock.
// It works in a new directory below $TMPDIR (or /tmp) and removes it at the end.
// The regions marked [guide:...] are the snippets of docs/guide.md.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <tallowmere/Data/Fortune.hpp>

using namespace tallowmere;

static std::filesystem::path makeScratchDirectory() {
  std::string name =
      (std::filesystem::temp_directory_path() / "tallowmere-concurrency-XXXXXX").string();
  if (mkdtemp(name.data()) == nullptr)
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  return name;
}

static bool run(const std::string& path) {
  // [guide:processes]
  // Three processes, each with a handle of its own, append to one file at once. Each append
  // holds the exclusive lock on the text file, so none sees another's half done.
  std::vector<pid_t> children;
  for (int p = 0; p < 3; ++p) {
    const pid_t child = fork();
    if (child == 0) {
      try {
        withFortuneFile(U'%', /*writable=*/true, path, [p](const FortuneFile& file) {
          for (int i = 0; i < 20; ++i) {
            appendFortune(file, "Process " + std::to_string(p) + ", fortune " + std::to_string(i));
          }
        });
      } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        _exit(1);
      }
      _exit(0);
    }
    children.push_back(child);
  }
  bool childrenOk = true;
  for (const pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    childrenOk &= WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  // [guide:end]

  // [guide:threads]
  // One handle shared by four threads: its operations run one at a time, each whole.
  const FortuneFile file = openFortuneFile(U'%', /*writable=*/true, path);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([file, t] {  // copies of a handle share it
      for (int i = 0; i < 10; ++i) {
        appendFortune(file, "Thread " + std::to_string(t) + ", fortune " + std::to_string(i));
        (void)getFortune(file, getNumFortunes(file) - 1);  // the last one, whoever appended it
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  closeFortuneFile(file);  // only once no thread uses it any more
  // [guide:end]

  // [guide:flock]
  // A program that edits the text without the library takes the same lock: flock(2) on the
  // text file itself (not on its index), exclusive for a change.
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
  if (fd < 0 || flock(fd, LOCK_EX) != 0)
    throw std::system_error(errno, std::generic_category(), path);
  const std::string byHand = "%\nAdded without the library, under the lock.\n";
  const bool written =
      write(fd, byHand.data(), byHand.size()) == static_cast<ssize_t>(byHand.size());
  close(fd);  // releases the lock
  // The index does not list that fortune yet: rebuild it (the next append would, too).
  withFortuneFile(U'%', true, path, [](const FortuneFile& f) { rebuildIndex(f); });
  // [guide:end]

  const std::int64_t count = withFortuneFile(U'%', false, path, getNumFortunes);
  std::cout << path << ": " << count << " fortunes\n";
  const IndexFileReport report = withFortuneFile(U'%', false, path, checkIndexFile);
  return childrenOk && written && count == 3 * 20 + 4 * 10 + 1 &&
         report.state == IndexFileState::Sound;
}

int main() {
  const std::filesystem::path directory = makeScratchDirectory();
  bool ok = false;
  try {
    ok = run((directory / "shared").string());
  } catch (const std::exception& error) {
    std::cerr << "concurrency: " << error.what() << '\n';
  }
  std::filesystem::remove_all(directory);
  if (!ok) std::cerr << "concurrency: the fortune file is not as expected\n";
  return ok ? 0 : 1;
}
