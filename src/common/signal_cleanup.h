// What a signal that ends the tool must undo first: files it made that must
// not outlive it (temporary and staging files), and child process groups
// that must not run on without it. The handler covers every signal whose
// default action ends the process and that can be caught (HUP, INT, QUIT,
// TERM, USR1, USR2, ALRM, VTALRM, PROF, XCPU, PIPE): it stops the groups,
// removes the files and ends the tool by the same signal, with only
// async-signal-safe calls. The lock on the configuration directory is freed
// by the process ending.
#pragma once

#include <signal.h>
#include <sys/types.h>

namespace kxsane {

// How many child process groups the handler can stop at once.
inline constexpr int kCleanupGroupSlots = 64;

// Installs the handler for the eleven signals (once; later calls do nothing),
// leaving a signal that the tool was started to ignore ignored, and ignores
// SIGXFSZ, so that a write past the file-size limit fails with EFBIG instead
// of ending the tool (children inherit that). The front end calls it before
// any command can make a file; registering a file or a group calls it too.
void arm_signal_cleanup();

// Registers the file `name` in the directory `dir_fd` (AT_FDCWD for a path)
// for removal; returns its slot, or -1 when every slot is taken or the name
// is too long: the caller must then not keep the file. The name is copied;
// the descriptor must stay open until the file is forgotten.
int add_cleanup_file(int dir_fd, const char* name);
// Forgets the file in `slot` (nothing for -1).
void remove_cleanup_file(int slot);

// Registers the process group `pgid` (of a child that leads it) to be killed
// and waited for; false when all kCleanupGroupSlots are taken.
bool add_cleanup_group(pid_t pgid);
// Forgets it; call before the child is reaped, so that its ID is never
// signalled after it may have been given to another process.
void remove_cleanup_group(pid_t pgid);

// Holds the eleven signals back for its lifetime, so that a step and the
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
