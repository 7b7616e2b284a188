// Running command texts built by shell_command.h. Every shell the tool starts
// runs in a process group of its own, registered to be stopped should a
// signal end the tool, and gets the caller's environment less every variable
// that makes a shell run code or read commands differently (BASH_FUNC_*,
// BASH_ENV, ENV, SHELLOPTS, BASHOPTS, PS4, BASH_XTRACEFD, IFS, CDPATH,
// GLOBIGNORE), with a PATH of only its absolute entries, in order (the
// system's directories when none is left): the tool runs as root, and its
// environment may come from anyone.
#pragma once

#include <sys/types.h>

#include <string>

#include "common/status.h"

namespace kxsane {

// Waits for the child `pid`; returns its wait status, or -1.
int wait_child(pid_t pid);

// Kills the process group that the child `pid` leads and reaps the child.
void stop_child(pid_t pid);

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
// much as one at its end. Should a signal end the tool meanwhile, the
// pipeline is stopped first.
Status run_pipeline(const std::string& command, int stdout_fd);

}  // namespace kxsane
