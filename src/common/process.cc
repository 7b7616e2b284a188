#include "common/process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/signal_cleanup.h"

namespace kxsane {

namespace {

// The shell for probes and reports, and the one for pipelines: bash is
// essential on the systems the tool is made for, and unlike dash it can
// report a failed stage inside a pipeline.
constexpr char kShell[] = "/bin/sh";
constexpr char kPipelineShell[] = "/bin/bash";

// Where commands are looked for when the caller's PATH names no absolute
// directory.
constexpr char kDefaultPath[] = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// Variables that make a shell run code of the caller's (exported functions,
// start-up files, trace hooks) or split and find words otherwise.
constexpr std::string_view kUnsafeNames[] = {
    "BASH_ENV",      "ENV", "SHELLOPTS", "BASHOPTS",   "PS4",
    "BASH_XTRACEFD", "IFS", "CDPATH",    "GLOBIGNORE",
};

bool is_unsafe(std::string_view name) {
  if (name.starts_with("BASH_FUNC_"))
    return true;
  for (std::string_view unsafe : kUnsafeNames) {
    if (name == unsafe)
      return true;
  }
  return false;
}

// "PATH=" and the absolute entries of `value`, in order; an empty or
// relative entry would find commands in the working directory.
std::string absolute_path(std::string_view value) {
  std::string path = "PATH=";
  bool any = false;
  while (true) {
    const std::size_t colon = value.find(':');
    const std::string_view entry = value.substr(0, colon);
    if (entry.starts_with('/')) {
      if (any)
        path += ':';
      path += entry;
      any = true;
    }
    if (colon == std::string_view::npos)
      break;
    value.remove_prefix(colon + 1);
  }
  return any ? path : kDefaultPath;
}

// An environment for a child shell, owned, in the form execve takes: the
// caller's less the unsafe variables, with only absolute PATH entries, and
// with `c_locale` LC_ALL=C (the registry is bytes, and sed and uniq must
// treat it so whatever the caller's locale).
class ChildEnvironment {
 public:
  ChildEnvironment(const char* const* environ, bool c_locale);
  char* const* data() { return pointers_.data(); }

 private:
  std::vector<std::string> entries_;
  std::vector<char*> pointers_;
};

ChildEnvironment::ChildEnvironment(const char* const* environ, bool c_locale) {
  bool has_path = false;
  for (const char* const* entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text = *entry;
    const std::string_view name = text.substr(0, text.find('='));
    if (is_unsafe(name) || (c_locale && name == "LC_ALL"))
      continue;
    if (name == "PATH") {
      // Only the first PATH counts, as for the shell.
      if (!has_path)
        entries_.push_back(absolute_path(text.substr(name.size() + 1)));
      has_path = true;
      continue;
    }
    entries_.emplace_back(text);
  }
  if (!has_path)
    entries_.emplace_back(kDefaultPath);
  if (c_locale)
    entries_.emplace_back("LC_ALL=C");
  for (std::string& entry : entries_) pointers_.push_back(entry.data());
  pointers_.push_back(nullptr);
}

// How a child starts: in a process group of its own, so that the whole
// child (a pipeline's every stage) can be stopped at once, with no signal
// held back, and its standard output on `stdout_fd` (-1 keeps the tool's).
// Its handlers are reset by exec; what the tool ignores (SIGXFSZ) stays
// ignored. error() is the first failure of the set-up, 0 when none.
class SpawnSetup {
 public:
  explicit SpawnSetup(int stdout_fd) {
    attr_error_ = posix_spawnattr_init(&attr_);
    actions_error_ = posix_spawn_file_actions_init(&actions_);
    sigset_t none;
    sigemptyset(&none);
    note(attr_error_);
    note(actions_error_);
    if (error_ == 0)
      note(posix_spawnattr_setsigmask(&attr_, &none));
    if (error_ == 0)
      note(posix_spawnattr_setpgroup(&attr_, 0));
    if (error_ == 0)
      note(posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK));
    if (error_ == 0 && stdout_fd >= 0)
      note(posix_spawn_file_actions_adddup2(&actions_, stdout_fd, STDOUT_FILENO));
  }
  ~SpawnSetup() {
    if (attr_error_ == 0)
      posix_spawnattr_destroy(&attr_);
    if (actions_error_ == 0)
      posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  int error() const { return error_; }
  const posix_spawnattr_t* attributes() const { return &attr_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  void note(int error) {
    if (error_ == 0)
      error_ = error;
  }

  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
  int attr_error_ = 0;
  int actions_error_ = 0;
  int error_ = 0;
};

// Starts `argv` (argv[0] an absolute path) in a process group of its own
// with the child environment, its standard output on `stdout_fd` (-1 keeps
// the tool's). Returns the process ID.
Result<pid_t> start_child(const char* const* argv, bool c_locale, int stdout_fd) {
  arm_signal_cleanup();
  ChildEnvironment env(environ, c_locale);
  const SpawnSetup setup(stdout_fd);
  int error = setup.error();
  pid_t pid = -1;
  bool registered = false;
  if (error == 0) {
    // The child is registered before a signal can end the tool.
    const SignalsHeld held;
    error = posix_spawn(&pid, argv[0], setup.actions(), setup.attributes(),
                        const_cast<char* const*>(argv), env.data());
    registered = error == 0 && add_cleanup_group(pid);
  }
  if (error != 0)
    return Status::Failed(std::string("cannot run ") + argv[0] + ": " + std::strerror(error));
  if (!registered) {
    // A child the handler could not stop must not run.
    ::kill(-pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return Status::Failed(std::string("cannot run ") + argv[0] + ": too many children at once");
  }
  return pid;
}

}  // namespace

int wait_child(pid_t pid) {
  // Seen to end, forgotten, and only then reaped.
  siginfo_t info{};
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0) {
    if (errno != EINTR)
      break;
  }
  remove_cleanup_group(pid);
  int wait_status = 0;
  while (waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR)
      return -1;
  }
  return wait_status;
}

void stop_child(pid_t pid) {
  ::kill(-pid, SIGKILL);
  wait_child(pid);
}

Result<int> run_echoed(const std::string& command) {
  std::fputs(command.c_str(), stdout);
  std::fputc('\n', stdout);
  return run_shell(command);
}

Result<int> run_shell(const std::string& command) {
  std::fflush(stdout);
  const Result<pid_t> pid = start_shell(command, -1);
  if (!pid.ok())
    return pid.status();
  return wait_child(*pid);
}

Result<pid_t> start_shell(const std::string& command, int stdout_fd) {
  const char* argv[] = {kShell, "-c", command.c_str(), nullptr};
  return start_child(argv, /*c_locale=*/false, stdout_fd);
}

Status run_pipeline(const std::string& command, int stdout_fd) {
  std::fflush(stdout);
  const char* argv[] = {kPipelineShell, "-o", "pipefail", "-c", command.c_str(), nullptr};
  const Result<pid_t> pid = start_child(argv, /*c_locale=*/true, stdout_fd);
  if (!pid.ok())
    return pid.status();
  const int wait_status = wait_child(*pid);
  if (wait_status < 0)
    return Status::Failed(std::string("wait: ") + std::strerror(errno));
  if (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0)
    return Status::Ok();
  if (WIFSIGNALED(wait_status)) {
    return Status::Failed("pipeline killed by signal " + std::to_string(WTERMSIG(wait_status)));
  }
  return Status::Failed("pipeline failed with status " + std::to_string(WEXITSTATUS(wait_status)));
}

}  // namespace kxsane
