// Waiting for a child process of a test.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>

namespace kxsane::testing {

// Waits for `pid` and returns its exit status (-1 when it was killed or
// could not be waited for).
inline int wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR)
      return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kxsane::testing
