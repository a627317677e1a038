#include "support/Command.hpp"

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <thread>

#include "support/TempDir.hpp"

namespace tallowmere::test {

PreparedCommand::PreparedCommand(std::vector<std::string> args, std::string directory,
                                 std::vector<std::string> environment)
    : directory_(std::move(directory)) {
  strings_.push_back(TALLOWMERE_COMMAND);
  strings_.insert(strings_.end(), args.begin(), args.end());
  const std::size_t argc = strings_.size();
  strings_.push_back("PATH=/usr/bin:/bin");
  const auto locale = [](const std::string& variable) { return variable.rfind("LC_ALL=", 0) == 0; };
  if (std::none_of(environment.begin(), environment.end(), locale)) {
    strings_.push_back("LC_ALL=C");
  }
  strings_.insert(strings_.end(), environment.begin(), environment.end());
  // The machine's own classic collection never takes part, unless a test names one.
  const auto names = [](const std::string& variable) {
    return variable.rfind("tallowmere_classicdir=", 0) == 0;
  };
  if (std::none_of(environment.begin(), environment.end(), names)) {
    strings_.push_back("tallowmere_classicdir=/nonexistent/classic");
  }
  // The pointers are taken once the strings no longer move.
  for (std::size_t i = 0; i < strings_.size(); ++i) {
    (i < argc ? argv_ : envp_).push_back(strings_[i].data());
  }
  argv_.push_back(nullptr);
  envp_.push_back(nullptr);
}

pid_t PreparedCommand::start(int input, int output, int error) const {
  const pid_t child = fork();
  if (child != 0) return child;
  const rlimit files{setup_.openFileLimit, setup_.openFileLimit};
  if (dup2(input, 0) < 0 || dup2(output, 1) < 0 || dup2(error, 2) < 0 ||
      chdir(directory_.c_str()) != 0 ||
      (setup_.openFileLimit != 0 && setrlimit(RLIMIT_NOFILE, &files) != 0)) {
    _exit(126);
  }
  if (setup_.umask >= 0) umask(static_cast<mode_t>(setup_.umask));
  if (setup_.withoutPermissionOverride) {
    // Only a process that may (root) has these to drop; any other has none of them.
    for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
      prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
    }
  }
  execve(argv_[0], argv_.data(), envp_.data());
  _exit(127);
}

CommandOutcome waitBounded(pid_t child, std::chrono::milliseconds bound) {
  CommandOutcome outcome;
  const auto deadline = std::chrono::steady_clock::now() + bound;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (done < 0 && errno != EINTR)
      throw std::system_error(errno, std::generic_category(), "waitpid");
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      outcome.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  outcome.exited = !outcome.timedOut && WIFEXITED(status);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.signal = WIFSIGNALED(status) && !outcome.timedOut ? WTERMSIG(status) : 0;
  return outcome;
}

CommandOutcome runCommand(const std::string& directory, const std::vector<std::string>& args,
                          const std::string& input, const std::vector<std::string>& environment,
                          std::chrono::milliseconds bound, unsigned long openFileLimit) {
  return runCommand(directory, args, input, environment, ChildSetup{.openFileLimit = openFileLimit},
                    bound);
}

CommandOutcome runCommand(const std::string& directory, const std::vector<std::string>& args,
                          const std::string& input, const std::vector<std::string>& environment,
                          const ChildSetup& setup, std::chrono::milliseconds bound) {
  const TempDir io;
  io.writeFile("in", input);
  PreparedCommand command(args, directory, environment);
  command.setUp(setup);
  const int in = ::open(io.path("in").c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(io.path("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const int err = ::open(io.path("err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const pid_t child = in >= 0 && out >= 0 && err >= 0 ? command.start(in, out, err) : -1;
  for (const int fd : {in, out, err}) {
    if (fd >= 0) ::close(fd);
  }
  if (child < 0) throw std::system_error(errno, std::generic_category(), "starting the command");
  CommandOutcome outcome = waitBounded(child, bound);
  outcome.out = io.readFile("out");
  outcome.err = io.readFile("err");
  return outcome;
}

}  // namespace tallowmere::test
