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

// Writes the blocks to standard output, in order, byte for byte as if the
// commands ran one after the other, while up to kMaxRunningProbes of them
// run at once (started in order). The block whose turn it is streams; a
// later block's output is held up to kHeldOutputMax. Standard output is
// flushed first, then written directly (nothing waits in a buffer should a
// signal end the tool); standard error is the tool's. Returns when every
// command has been reaped. A command that cannot start while others run is
// retried when one ends; alone, the reason goes to standard error and its
// block is only its heading. If waiting for output fails, one line on
// standard error says why and every running command is stopped.
void run_probe_blocks(const std::vector<ProbeBlock>& blocks);

}  // namespace kxsane
