// Runs the probes of a report side by side while its output reads as if they
// had run one after the other.
#pragma once

#include <string>
#include <vector>

namespace kxsane {

// At most this many probes run at once. A probe is a shell and its program;
// the signal handler can stop twice as many process groups.
inline constexpr int kMaxRunningProbes = 32;

// One block of a report: a heading printed as it stands, then the standard
// output of `command` run through /bin/sh (no command when empty).
struct ProbeBlock {
  std::string heading;
  std::string command;
};

// Writes every block to standard output in the order given, each as soon as
// every block before it is written, while the commands run up to
// kMaxRunningProbes at once, started in that order. The bytes are those of
// running the commands one after the other: a block's output is held in
// memory until its turn, and the block whose turn it is streams as its
// command writes. Standard output is flushed first and then written
// directly, so nothing waits in a buffer should a signal end the tool; a
// command's standard error is the tool's. Returns when every command has
// ended and been reaped. A command that cannot be started while others run
// is tried again when one of them ends; alone, the reason goes to standard
// error and its block is only its heading.
void run_probe_blocks(const std::vector<ProbeBlock>& blocks);

}  // namespace kxsane
