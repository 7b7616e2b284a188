// Which addresses a scanner found on the LAN can have. An announcement may
// name any address; registering one that is no host of the LAN would point
// the scanner software at the machine itself, at many hosts or at none.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"

namespace kxsane {

// One IPv4 address of one of the machine's interfaces, and the netmask of
// its network; both in host byte order. For a network the admin names
// (--subnet), `address` is the network's own and `own` is false.
struct Ipv4Network {
  std::uint32_t address;
  std::uint32_t netmask;
  bool own = true;
};

// The most addresses all the networks of one search may hold (--subnet).
inline constexpr std::uint64_t kMaxSubnetAddresses = 4096;

// The network "A.B.C.D/N" (N 0..32) names, with the host bits of the
// address cleared; refused, saying why, for any other text.
Result<Ipv4Network> parse_subnet(std::string_view text);

// How many addresses `network` holds: 2 to the power of its host bits.
std::uint64_t address_count(const Ipv4Network& network);

// The addresses of `networks` a host can have (not the network and
// broadcast addresses of a network larger than two addresses), in address
// order, each once, in host byte order. The caller keeps the networks within
// kMaxSubnetAddresses.
std::vector<std::uint32_t> subnet_hosts(const std::vector<Ipv4Network>& networks);

// `address` (host byte order) as dotted IPv4.
std::string dotted_ipv4(std::uint32_t address);

// `network` as "A.B.C.D/N".
std::string subnet_text(const Ipv4Network& network);

// The IPv4 networks of the machine's interfaces (getifaddrs), in the order
// it lists them; empty when getifaddrs fails.
std::vector<Ipv4Network> local_networks();

// Why no scanner can be at `address` (dotted IPv4) as seen from a machine on
// `networks`, as a phrase for the report ("a loopback address"); empty when
// one can. One can only at a unicast address on one of `networks` that is
// neither the broadcast address of one of them nor an address of the
// machine (that of a network with `own`); never in 0/8, 127/8, 169.254/16,
// 224/4 or 240/4.
std::string address_refusal(const std::string& address, const std::vector<Ipv4Network>& networks);

}  // namespace kxsane
