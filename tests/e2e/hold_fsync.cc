// Preloaded into the tool by tests that signal it in the middle of a change
// that starts no child (-s:, -l:): its first fsync, that of the complete
// staging file, writes the process ID into the FIFO named by
// KXSANE_HOLD_FIFO and waits for a signal. The variables are taken out of
// the environment, so the shells the tool starts never see them.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

char* g_fifo = nullptr;

__attribute__((constructor)) void take_environment() {
  if (const char* fifo = std::getenv("KXSANE_HOLD_FIFO"))
    g_fifo = ::strdup(fifo);
  ::unsetenv("KXSANE_HOLD_FIFO");
  ::unsetenv("LD_PRELOAD");
}

}  // namespace

extern "C" int fsync(int fd) {
  if (g_fifo != nullptr) {
    const int out = ::open(g_fifo, O_WRONLY | O_CLOEXEC);
    g_fifo = nullptr;
    if (out >= 0) {
      ::dprintf(out, "%d\n", static_cast<int>(::getpid()));
      ::close(out);
      ::pause();
    }
  }
  return static_cast<int>(::syscall(SYS_fsync, fd));
}
