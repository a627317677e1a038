// Provokes each kind of failure of the library and shows how a program tells them apart.
// It works in a new directory below $TMPDIR (or /tmp) and removes it at the end; it exits 0
// when every failure was of the kind expected.
// The regions marked [guide:...] are the snippets of docs/guide.md.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>

#include <tallowmere/Data/Fortune.hpp>

using namespace tallowmere;

static std::filesystem::path makeScratchDirectory() {
  std::string name = (std::filesystem::temp_directory_path() / "tallowmere-errors-XXXXXX").string();
  if (mkdtemp(name.data()) == nullptr)
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  return name;
}

enum class Outcome { Done, BadInput, SystemFailure, DamagedIndex, ProgramBug };

// [guide:catch]
// Runs an action and says what its failure, if any, means.
Outcome attempt(const std::function<void()>& action) {
  try {
    action();
    return Outcome::Done;
  } catch (const IOError& error) {
    if (error.isUserError()) {
      // Bad data or a bad argument: a missing fortune file, a number out of range, text that
      // is not UTF-8. Nothing was changed; report it (path() names the file when known).
      std::cerr << "refused: " << error.what() << '\n';
      return Outcome::BadInput;
    }
    // A system call failed: errorCode() is its errno, path() the file. Nothing was changed;
    // ENOSPC or EMFILE may pass, ENOENT or EACCES need the user.
    std::cerr << "failed: " << error.path() << ": " << std::strerror(error.errorCode()) << '\n';
    return Outcome::SystemFailure;
  } catch (const IndexProblemError& error) {
    // The index file is damaged (error.problem() says how): rebuild it from the text.
    std::cerr << "damaged index: " << error.what() << '\n';
    return Outcome::DamagedIndex;
  } catch (const UsageError& error) {
    // A fault of this program (a closed handle, a handle used inside its own callback): fix
    // the program; retrying cannot help.
    std::cerr << "bug: " << error.what() << '\n';
    return Outcome::ProgramBug;
  }
}
// [guide:end]

static bool expect(const char* what, Outcome expected, Outcome got) {
  if (got == expected) return true;
  std::cerr << "errors: " << what << ": not the failure expected\n";
  return false;
}

static bool run(const std::filesystem::path& directory) {
  const std::string path = (directory / "jokes").string();
  bool ok = true;
  withFortuneFile(U'%', true, path, [](const FortuneFile& f) { appendFortune(f, "Knock knock."); });

  // [guide:user-errors]
  // A read-only handle needs an existing file: IOError of the user-error kind, with path().
  Outcome outcome = attempt([&] { (void)openFortuneFile(U'%', false, path + ".missing"); });
  // [guide:end]
  ok &= expect("a missing file", Outcome::BadInput, outcome);

  // [guide:out-of-range]
  // Fortune numbers run from 0 to getNumFortunes - 1.
  outcome = attempt([&] {
    withFortuneFile(U'%', false, path, [](const FortuneFile& f) { (void)getFortune(f, 7); });
  });
  // [guide:end]
  ok &= expect("a number out of range", Outcome::BadInput, outcome);

  ok &= expect("text that is not UTF-8", Outcome::BadInput, attempt([&] {
                 withFortuneFile(U'%', true, path,
                                 [](const FortuneFile& f) { appendFortune(f, "\xff"); });
               }));

  // [guide:system-errors]
  // A writable handle opens (and creates) its files on first use: a directory that does not
  // exist fails then, with errorCode() ENOENT.
  outcome = attempt([&] {
    FortuneFile file = openFortuneFile(U'%', true, (directory / "no-such-dir" / "jokes").string());
    appendFortune(file, "Who's there?");
  });
  // [guide:end]
  ok &= expect("a missing directory", Outcome::SystemFailure, outcome);

  // A read-only handle refuses changes with the system error EBADF.
  ok &= expect("an append to a read-only file", Outcome::SystemFailure, attempt([&] {
                 withFortuneFile(U'%', false, path,
                                 [](const FortuneFile& f) { appendFortune(f, "No."); });
               }));

  // [guide:damaged]
  // Sixty-four bytes of rubbish where the index header belongs.
  std::ofstream(path + ".ix", std::ios::binary | std::ios::trunc) << std::string(64, 'x');
  // A read-only handle reads through an index built from the text in memory instead.
  const std::int64_t count = withFortuneFile(U'%', false, path, getNumFortunes);  // 1
  // A writable one reports the damage when it reads the index...
  outcome = attempt([&] { withFortuneFile(U'%', true, path, getNumFortunes); });
  // ...and rebuildIndex replaces the index whole (appendFortune would rebuild it first, too).
  withFortuneFile(U'%', true, path, [](const FortuneFile& f) { rebuildIndex(f); });
  // [guide:end]
  ok &= expect("a damaged index", Outcome::DamagedIndex, outcome);
  ok &= count == 1;

  // [guide:reasons]
  // Whatever a failure's type, errorReason says why it happened and errorPath names the file
  // it concerns: an index cut short (an IOError) and one with a bad magic number (a
  // HeaderProblemError) are both DamagedIndex, about the index file.
  const auto reasonOf = [&path] {
    try {
      withFortuneFile(U'%', true, path, getNumFortunes);
    } catch (const std::exception& error) {
      std::cerr << errorReason(error) << ": " << errorPath(error) << '\n';
      return errorReason(error);
    }
    return ErrorReason::Other;
  };
  std::filesystem::resize_file(path + ".ix", 20);  // cut inside the 64-byte header
  const ErrorReason cut = reasonOf();              // DamagedIndex
  std::ofstream(path + ".ix", std::ios::binary | std::ios::trunc) << std::string(64, 'x');
  const ErrorReason rubbish = reasonOf();  // DamagedIndex
  // [guide:end]
  ok &= cut == ErrorReason::DamagedIndex && rubbish == ErrorReason::DamagedIndex;
  withFortuneFile(U'%', true, path, [](const FortuneFile& f) { rebuildIndex(f); });

  // [guide:usage-errors]
  // A handle used after closeFortuneFile is a fault of the program: UsageError.
  outcome = attempt([&] {
    FortuneFile file = openFortuneFile(U'%', false, path);
    closeFortuneFile(file);
    (void)getNumFortunes(file);
  });
  // [guide:end]
  ok &= expect("a closed handle", Outcome::ProgramBug, outcome);

  // [guide:reentry]
  // A callback that runs under a handle's lock must not use the same handle.
  outcome = attempt([&] {
    withFortuneFile(U'%', false, path, [](const FortuneFile& f) {
      forEachFortune(f, [&](std::int64_t, const IndexEntry&, std::string_view) {
        // UsageError: the lock was taken again by the thread that holds it.
        (void)getNumFortunes(f);
      });
    });
  });
  // [guide:end]
  ok &= expect("a handle used inside its own callback", Outcome::ProgramBug, outcome);

  ok &= expect("the rebuilt index", Outcome::Done, attempt([&] {
                 withFortuneFile(U'%', true, path,
                                 [](const FortuneFile& f) { appendFortune(f, "Boo."); });
               }));
  return ok;
}

int main() {
  const std::filesystem::path directory = makeScratchDirectory();
  bool ok = false;
  try {
    ok = run(directory);
  } catch (const std::exception& error) {
    std::cerr << "errors: " << error.what() << '\n';
  }
  std::filesystem::remove_all(directory);
  if (ok) std::cout << "every failure was of the kind expected\n";
  return ok ? 0 : 1;
}
