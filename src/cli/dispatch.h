// The command front end: one option per run, one handler, exit status 0.
#pragma once

#include <cstdint>

namespace kxsane {

// The option code of the first argument: c0 * 256 + c1, and times 256 plus
// c2 when a third byte follows. 0 with no argument; -1 for an argument
// shorter than two characters (never read past its end).
std::int32_t option_code(int argc, char** argv);

// Prints the usage text.
void usage();

// Runs the command that `argv[1]` names against the system's fixed paths.
// Always returns 0, the process's exit status.
int run_command(int argc, char** argv);

}  // namespace kxsane
