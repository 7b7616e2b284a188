// Finding scanners through WS-Discovery.
#pragma once

#include <chrono>

#include "common/status.h"
#include "discovery/protocols.h"

namespace kxsane {

// Probes for scanners from every IPv4 interface with multicast, a few times
// in the first half second, and takes the answers to our probes for a second
// after the last one. The source of a datagram can be forged, so each
// answering address is then probed again on its own: only what that address
// answers to a Probe sent to it alone counts (its endpoint and transport
// addresses). Each device so confirmed (one per endpoint address and per
// IPv4 address) is asked for its metadata over HTTP, all side by side, and
// handed to `out` as one sighting (service "wsd"), without a model when it
// did not describe itself in time. Every address of the scope's subnets is
// probed the same way as one to confirm, at most 256 waiting at once, so
// that only what it answers itself counts. Returns by `deadline` at the
// latest. An error only when no probe could be sent; then `out` is
// unchanged.
Status find_wsd(const SearchScope& scope, std::chrono::steady_clock::time_point deadline,
                Findings& out);

}  // namespace kxsane
