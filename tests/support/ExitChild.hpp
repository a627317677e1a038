// Ending a process forked by a test without running the parent's exit handlers.
#pragma once

#include <unistd.h>

#ifdef TALLOWMERE_COVERAGE
extern "C" int __llvm_profile_write_file(void);
#endif

namespace tallowmere::test {

// _exit(status), for a forked child that ran library code. In a coverage build the child
// first writes its counts, which _exit would drop: into the parent's profile, whose name the
// child inherits and which the profile runtime merges into (see TALLOWMERE_COVERAGE).
[[noreturn]] inline void exitChild(int status) {
#ifdef TALLOWMERE_COVERAGE
  (void)__llvm_profile_write_file();
#endif
  _exit(status);
}

}  // namespace tallowmere::test
