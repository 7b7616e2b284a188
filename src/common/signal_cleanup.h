// What SIGINT, SIGTERM, SIGHUP or SIGPIPE must undo before they end the tool: files it
// made that must not outlive it (temporary and staging files), and child
// process groups that must not run on without it. The handler stops the
// groups, removes the files and ends the tool by the same signal; it uses
// only async-signal-safe calls. The lock on the configuration directory is
// freed by the process ending.
#pragma once

#include <signal.h>
#include <sys/types.h>

namespace kxsane {

// Installs the handler for the four signals (once; later calls do nothing).
void arm_signal_cleanup();

// Registers the file `name` in the directory `dir_fd` (AT_FDCWD for a path)
// for removal; returns its slot, or -1 when every slot is taken (the file is
// then only removed by its owner). The name is copied; the descriptor must
// stay open until the file is forgotten.
int add_cleanup_file(int dir_fd, const char* name);
// Forgets the file in `slot` (nothing for -1).
void remove_cleanup_file(int slot);

// Registers the process group `pgid` (of a child that leads it) to be killed
// and waited for; false when every slot is taken.
bool add_cleanup_group(pid_t pgid);
// Forgets it; call before the child is reaped, so that its ID is never
// signalled after it may have been given to another process.
void remove_cleanup_group(pid_t pgid);

// Holds the four signals back for its lifetime, so that a step and the
// bookkeeping of it (a rename and forgetting the staging name) happen as one.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace kxsane
