// Which addresses a scanner found on the LAN can have. An announcement may
// name any address; registering one that is no host of the LAN would point
// the scanner software at the machine itself, at many hosts or at none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kxsane {

// One IPv4 address of one of the machine's interfaces, and the netmask of
// its network; both in host byte order.
struct Ipv4Network {
  std::uint32_t address;
  std::uint32_t netmask;
};

// The IPv4 networks of the machine's interfaces (getifaddrs), in the order
// it lists them; empty when getifaddrs fails.
std::vector<Ipv4Network> local_networks();

// Why no scanner can be at `address` (dotted IPv4) as seen from a machine on
// `networks`, as a phrase for the report ("a loopback address"); empty when
// one can. One can only at a unicast address on one of `networks` that is
// neither the broadcast address of one of them nor an address of the
// machine; never in 0/8, 127/8, 169.254/16, 224/4 or 240/4.
std::string address_refusal(const std::string& address, const std::vector<Ipv4Network>& networks);

}  // namespace kxsane
