// Finding scanners over SNMP: devices that announce nothing but answer a GET
// for the values that name them.
#pragma once

#include <chrono>
#include <vector>

#include "common/status.h"
#include "discovery/protocols.h"
#include "discovery/search_scope.h"

namespace kxsane {

// At most this many unicast requests wait for an answer at once.
inline constexpr std::size_t kMaxSnmpInFlight = 256;

// Sends one GET (snmp_request, with the scope's community) to the broadcast
// address of every IPv4 interface with broadcast and takes the answers for a
// second, each from a host of that interface's network; and sends one to
// every address of the scope's subnets, at most kMaxSnmpInFlight waiting at
// once, each given half a second, its answer taken only from the address
// asked. Hands one sighting (service "snmp", sighting_from_snmp) per
// answering address to `out` as it comes, at most 1,024. Returns when every
// request has had its time, or at `deadline` (then `out` says how many
// addresses were left). An error only when no request could be sent at all
// (no socket, no interface with broadcast and no subnet).
Status find_snmp(const SearchScope& scope, std::chrono::steady_clock::time_point deadline,
                 Findings& out);

}  // namespace kxsane
