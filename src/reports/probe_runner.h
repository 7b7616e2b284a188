// Runs the probes of a report side by side while its output reads as if they
// had run one after the other.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/signal_cleanup.h"

namespace kxsane {

// At most this many probes run at once, each a process group that the
// signal handler must be able to stop.
inline constexpr int kMaxRunningProbes = 32;
static_assert(kMaxRunningProbes <= kCleanupGroupSlots);

// What is held in memory of a probe whose block's turn has not come; beyond
// it the probe's pipe is left unread, so the probe waits on its write.
inline constexpr std::size_t kHeldOutputMax = std::size_t{1} << 20;

// One block of a report: a heading printed as it stands, then the standard
// output of `command` run through /bin/sh (no command when empty).
struct ProbeBlock {
  std::string heading;
  std::string command;
};

// Writes every block to standard output in the order given, each as soon as
// every block before it is written, while the commands run up to
// kMaxRunningProbes at once, started in that order. The bytes are those of
// running the commands one after the other: up to kHeldOutputMax bytes of a
// block's output are held in memory until its turn, and the block whose
// turn it is streams as its command writes. Standard output is flushed first
// and then written directly, so nothing waits in a buffer should a signal
// end the tool; a command's standard error is the tool's. Returns when every
// command has ended and been reaped. A command that cannot be started while
// others run is tried again when one of them ends; alone, the reason goes to
// standard error and its block is only its heading. Should waiting for
// output fail, one line on standard error says why, every running command
// is stopped and nothing more is written.
void run_probe_blocks(const std::vector<ProbeBlock>& blocks);

}  // namespace kxsane
