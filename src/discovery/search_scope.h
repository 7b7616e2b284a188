// What one search covers besides the machine's own links, as the admin gave
// it on the command line.
#pragma once

#include <string>
#include <vector>

#include "discovery/addresses.h"

namespace kxsane {

struct SearchScope {
  // The SNMP community the GET requests carry.
  std::string community = "public";
  // Networks past the router, whose every address is asked by unicast; at
  // most kMaxSubnetAddresses addresses in all.
  std::vector<Ipv4Network> subnets;
};

}  // namespace kxsane
