// Running the built tallowmere command (TALLOWMERE_COMMAND) as a child process, in a clean
// environment and with a bound on how long it may run.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace tallowmere::test {

// What the child process gets besides its arguments and environment.
struct ChildSetup {
  unsigned long openFileLimit = 0;  // the most files it may hold open at once; 0: as it is
  int umask = -1;                   // its umask; -1: the test's own
  // Run as root, it still meets file permissions as another user would (its bounding set lacks
  // CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH and CAP_FOWNER): a file it may only read stays so.
  bool withoutPermissionOverride = false;
};

struct CommandOutcome {
  bool exited = false;    // ended by exit(); false when a signal or the bound ended it
  int status = -1;        // the exit status, when exited
  int signal = 0;         // the signal that ended it, if one did
  bool timedOut = false;  // still running at the bound, and killed
  std::string out;
  std::string err;
};

// The command with its arguments and environment, laid out before any fork, so that a child
// process has only to call fork, dup2, chdir and execve (all safe after fork in a process that
// runs threads).
class PreparedCommand {
 public:
  // `environment` holds NAME=value strings added to PATH=/usr/bin:/bin, to LC_ALL=C and to
  // tallowmere_classicdir naming no directory, each unless `environment` sets it.
  PreparedCommand(std::vector<std::string> args, std::string directory,
                  std::vector<std::string> environment = {});
  PreparedCommand(const PreparedCommand&) = delete;
  PreparedCommand& operator=(const PreparedCommand&) = delete;

  // Starts the command with the given descriptors as standard input, output and error;
  // returns its process id, or -1 when fork fails.
  pid_t start(int input, int output, int error) const;

  // The most files the command may hold open at once (ulimit -n); 0 leaves the limit as it is.
  void limitOpenFiles(unsigned long limit) { setup_.openFileLimit = limit; }
  void setUp(const ChildSetup& setup) { setup_ = setup; }

 private:
  std::vector<std::string> strings_;
  std::string directory_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
  ChildSetup setup_;
};

// Waits for `child` for at most `bound`; one still running then is killed with SIGKILL. The
// outcome has no output: the caller knows where it went.
CommandOutcome waitBounded(pid_t child, std::chrono::milliseconds bound);

// Runs the command to its end (at most `bound`) in `directory` with `input` on standard input
// and returns what it wrote.
CommandOutcome runCommand(const std::string& directory, const std::vector<std::string>& args,
                          const std::string& input = "",
                          const std::vector<std::string>& environment = {},
                          std::chrono::milliseconds bound = std::chrono::seconds(60),
                          unsigned long openFileLimit = 0);
// The same with the child set up as `setup` says.
CommandOutcome runCommand(const std::string& directory, const std::vector<std::string>& args,
                          const std::string& input, const std::vector<std::string>& environment,
                          const ChildSetup& setup,
                          std::chrono::milliseconds bound = std::chrono::seconds(60));

}  // namespace tallowmere::test
