// Running command texts built by shell_command.h. Every shell the tool starts
// leads a process group that a signal ending the tool stops. The tool runs
// as root with an environment from anyone, so the shell gets it without the
// variables that make a shell run code or read commands differently
// (BASH_FUNC_*, BASH_ENV, ENV, SHELLOPTS, BASHOPTS, PS4, BASH_XTRACEFD, IFS,
// CDPATH, GLOBIGNORE) and with only the absolute PATH entries.
#pragma once

#include <sys/types.h>

#include <string>

#include "common/status.h"

namespace kxsane {

// Waits for the child `pid`; returns its wait status, or -1.
int wait_child(pid_t pid);

// Kills the process group that the child `pid` leads and reaps the child.
void stop_child(pid_t pid);

// Prints `command` followed by a line break (the one helper here that
// prints: echoing the command is what it is for), flushes standard output,
// runs the text through /bin/sh and waits for it. Returns the shell's wait
// status, which a report does not examine, or Failed when no shell could be
// started.
Result<int> run_echoed(const std::string& command);

// Flushes standard output, then runs `command` through /bin/sh without
// echoing it and waits. Returns the wait status, or Failed when no shell
// could be started.
Result<int> run_shell(const std::string& command);

// Starts `command` through /bin/sh with the child environment (not the C
// locale: what the command prints is the user's), its standard output on
// `stdout_fd` (-1 keeps the tool's), and does not wait: the caller reaps it
// with wait_child. Returns the process ID.
Result<pid_t> start_shell(const std::string& command, int stdout_fd);

// Runs a pipeline of `command` with its standard output on `stdout_fd` and
// reports whether every stage of it succeeded: bash runs it with pipefail,
// so a missing or failing tool in the middle of a pipeline is a failure as
// much as one at its end. Should a signal end the tool meanwhile, the
// pipeline is stopped first.
Status run_pipeline(const std::string& command, int stdout_fd);

}  // namespace kxsane
