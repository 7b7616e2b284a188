// Running command texts built by shell_command.h.
#pragma once

#include <string>

#include "common/status.h"

namespace kxsane {

// Prints `command` followed by a line break, flushes standard output, runs the
// text through the system shell and waits for it. Returns the shell's wait
// status; the caller of a report does not examine it.
int run_echoed(const std::string& command);

// Flushes standard output, then runs `command` through the system shell
// without echoing it and waits. Returns the wait status.
int run_shell(const std::string& command);

// Runs a pipeline of `command` and reports whether every stage of it
// succeeded: the shell runs it with pipefail, so a missing or failing tool in
// the middle of a pipeline is a failure as much as one at its end.
Status run_pipeline(const std::string& command);

}  // namespace kxsane
