// Running command texts built by shell_command.h. Every shell the tool starts
// gets the environment of child_environment(), never the caller's as it
// stands: the tool runs as root, and its environment may come from anyone.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "common/status.h"

namespace kxsane {

// An environment for a child shell, owned, in the form execve takes.
class ChildEnvironment {
 public:
  // `environ` less every variable that makes a shell run code or read
  // commands differently (BASH_FUNC_*, BASH_ENV, ENV, SHELLOPTS, BASHOPTS,
  // PS4, BASH_XTRACEFD, IFS, CDPATH, GLOBIGNORE), with a PATH of only its
  // absolute entries, in order (the system's directories when none is
  // left). With `c_locale`, LC_ALL=C: the registry is bytes, and sed and
  // uniq must treat it so whatever the caller's locale.
  ChildEnvironment(const char* const* environ, bool c_locale);

  char* const* data() { return pointers_.data(); }
  const std::vector<std::string>& entries() const { return entries_; }

 private:
  std::vector<std::string> entries_;
  std::vector<char*> pointers_;
};

// Starts `argv` (argv[0] an absolute path) in a process group of its own
// with the child environment, its standard output on `stdout_fd` (-1 keeps
// the tool's). Returns the process ID, or -1 with the reason in `why`.
pid_t start_child(const char* const* argv, bool c_locale, int stdout_fd, Status& why);

// Waits for the child `pid`; returns its wait status, or -1.
int wait_child(pid_t pid);

// Prints `command` followed by a line break, flushes standard output, runs the
// text through /bin/sh and waits for it. Returns the shell's wait status; the
// caller of a report does not examine it.
int run_echoed(const std::string& command);

// Flushes standard output, then runs `command` through /bin/sh without
// echoing it and waits. Returns the wait status.
int run_shell(const std::string& command);

// Starts `command` through /bin/sh with the child environment (not the C
// locale: what the command prints is the user's), its standard output on
// `stdout_fd` (-1 keeps the tool's), and does not wait: the caller reaps it
// with wait_child. Returns the process ID, or -1 with the reason in `why`.
pid_t start_shell(const std::string& command, int stdout_fd, Status& why);

// Runs a pipeline of `command` with its standard output on `stdout_fd` and
// reports whether every stage of it succeeded: bash runs it with pipefail,
// so a missing or failing tool in the middle of a pipeline is a failure as
// much as one at its end. Should SIGINT, SIGTERM or SIGHUP end the tool
// meanwhile, the pipeline is stopped first.
Status run_pipeline(const std::string& command, int stdout_fd);

}  // namespace kxsane
