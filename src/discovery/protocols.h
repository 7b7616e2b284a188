// The discovery protocols, one table, run side by side.
#pragma once

#include <chrono>
#include <span>
#include <string>
#include <vector>

#include "common/status.h"
#include "discovery/sighting.h"

namespace kxsane {

// A protocol appends what it sees to `out` until it has heard everything it
// expects or `deadline` comes, whichever is first; an error only when it
// could not run at all (and then says what to start or install).
using FindFunction = Status (*)(std::chrono::steady_clock::time_point deadline,
                                std::vector<Sighting>* out);

struct Protocol {
  const char* key;    // as --protocol names it
  const char* label;  // as the report names it
  FindFunction find;
};

// Every protocol the finder knows, in the order it reports them.
std::span<const Protocol> all_protocols();

// What one protocol made of one run.
struct ProtocolResult {
  const Protocol* protocol = nullptr;
  Status status = Status::Ok();
  std::vector<Sighting> sightings;
};

// Runs every protocol of `protocols` on a thread of its own and returns
// their results in the same order. A protocol still running `grace` after
// `deadline` (stuck in a call to a daemon that stopped answering) is given
// up: its result is an error saying so, and its thread is left to end with
// the process.
std::vector<ProtocolResult> run_protocols(std::span<const Protocol* const> protocols,
                                          std::chrono::steady_clock::time_point deadline,
                                          std::chrono::milliseconds grace);

}  // namespace kxsane
