#include "common/signal_cleanup.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

namespace kxsane {

namespace {

// Every signal whose default action ends the process and that can be
// caught. SIGPIPE among them: a reader of the report that goes away
// (`-p | head -1`) must not leave the probes running.
constexpr int kSignals[] = {SIGHUP,  SIGINT,    SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2,
                            SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGPIPE};

// A change holds at most two temporary files (one pass's and the next one's)
// and one staging file at a time.
constexpr int kFileSlots = 8;

// A slot is written while it is free and then marked used, so that the
// handler never sees half a path.
struct FileSlot {
  volatile sig_atomic_t used = 0;
  int dir_fd = -1;
  char name[PATH_MAX] = {};
};
FileSlot g_files[kFileSlots];
volatile pid_t g_groups[kCleanupGroupSlots] = {};
volatile sig_atomic_t g_armed = 0;

void on_signal(int sig) {
  const int saved_errno = errno;
  for (volatile pid_t& group : g_groups) {
    const pid_t pgid = group;
    if (pgid > 0)
      ::kill(-pgid, SIGKILL);
  }
  for (volatile pid_t& group : g_groups) {
    const pid_t pgid = group;
    if (pgid > 0)
      ::waitpid(pgid, nullptr, 0);
  }
  for (FileSlot& slot : g_files) {
    if (slot.used)
      ::unlinkat(slot.dir_fd, slot.name, 0);
  }
  // End by the same signal, as if it had never been caught.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  ::sigaction(sig, &dfl, nullptr);
  sigset_t unblock;
  ::sigemptyset(&unblock);
  ::sigaddset(&unblock, sig);
  ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  ::raise(sig);
  errno = saved_errno;
}

sigset_t the_signals() {
  sigset_t set;
  ::sigemptyset(&set);
  for (int sig : kSignals) ::sigaddset(&set, sig);
  return set;
}

}  // namespace

void arm_signal_cleanup() {
  if (g_armed)
    return;
  g_armed = 1;
  struct sigaction action {};
  action.sa_handler = on_signal;
  // Every one of them is held back while the handler runs.
  action.sa_mask = the_signals();
  for (int sig : kSignals) {
    struct sigaction old {};
    // A signal the tool was started to ignore (nohup) stays ignored.
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
      ::sigaction(sig, &action, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}

int add_cleanup_file(int dir_fd, const char* name) {
  if (std::strlen(name) >= PATH_MAX)
    return -1;
  arm_signal_cleanup();
  const SignalsHeld held;
  for (int i = 0; i < kFileSlots; ++i) {
    if (g_files[i].used)
      continue;
    g_files[i].dir_fd = dir_fd;
    std::strcpy(g_files[i].name, name);
    g_files[i].used = 1;
    return i;
  }
  return -1;
}

void remove_cleanup_file(int slot) {
  if (slot >= 0 && slot < kFileSlots)
    g_files[slot].used = 0;
}

bool add_cleanup_group(pid_t pgid) {
  arm_signal_cleanup();
  const SignalsHeld held;
  for (volatile pid_t& group : g_groups) {
    if (group != 0)
      continue;
    group = pgid;
    return true;
  }
  return false;
}

void remove_cleanup_group(pid_t pgid) {
  for (volatile pid_t& group : g_groups) {
    if (group == pgid)
      group = 0;
  }
}

SignalsHeld::SignalsHeld() {
  const sigset_t set = the_signals();
  ::sigprocmask(SIG_BLOCK, &set, &saved_);
}

SignalsHeld::~SignalsHeld() {
  ::sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

}  // namespace kxsane
