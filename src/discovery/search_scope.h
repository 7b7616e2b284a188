// What one search covers besides the machine's own links, as the admin gave
// it on the command line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "discovery/addresses.h"

namespace kxsane {

// The longest SNMP community a request carries.
inline constexpr std::size_t kMaxCommunity = 64;

struct SearchScope {
  // The SNMP community the GET requests carry, 1 to kMaxCommunity bytes.
  std::string community = "public";
  // Networks past the router, whose every address is asked by unicast; at
  // most kMaxSubnetAddresses addresses in all.
  std::vector<Ipv4Network> subnets;
};

}  // namespace kxsane
