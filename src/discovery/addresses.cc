#include "discovery/addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <memory>

#include "common/text.h"

namespace kxsane {

namespace {

// Ranges that hold no address of a host on a LAN, whatever the machine's
// networks; the first that holds an address gives the reason.
struct SpecialRange {
  std::uint32_t first;
  int prefix;
  const char* reason;
};

constexpr SpecialRange kSpecialRanges[] = {
    {0x00000000, 8, "an address of no host (0.0.0.0/8)"},
    {0x7F000000, 8, "a loopback address"},
    {0xA9FE0000, 16, "a link-local address"},
    {0xE0000000, 4, "a multicast address"},
    {0xFFFFFFFF, 32, "the broadcast address"},
    {0xF0000000, 4, "a reserved address (240.0.0.0/4)"},
};

std::uint32_t mask_of(int prefix) {
  return prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
}

}  // namespace

std::string dotted_ipv4(std::uint32_t address) {
  const in_addr network_order{htonl(address)};
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &network_order, text, sizeof text);
  return text;
}

std::vector<Ipv4Network> local_networks() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0)
    return {};
  const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, freeifaddrs);
  std::vector<Ipv4Network> networks;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_netmask == nullptr || a->ifa_addr->sa_family != AF_INET)
      continue;
    const auto* address = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    const auto* netmask = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask);
    networks.push_back({ntohl(address->sin_addr.s_addr), ntohl(netmask->sin_addr.s_addr)});
  }
  return networks;
}

std::string address_refusal(const std::string& address, const std::vector<Ipv4Network>& networks) {
  in_addr parsed{};
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1)
    return "not an IPv4 address";
  const std::uint32_t host = ntohl(parsed.s_addr);
  for (const SpecialRange& range : kSpecialRanges) {
    if ((host & mask_of(range.prefix)) == range.first)
      return range.reason;
  }
  bool on_a_network = false;
  for (const Ipv4Network& network : networks) {
    if (network.own && host == network.address)
      return "an address of this machine";
    if ((host & network.netmask) != (network.address & network.netmask))
      continue;
    // Networks of one or two addresses (/32, /31) have no broadcast address.
    const int prefix = std::popcount(network.netmask);
    if (prefix < 31 && host == (network.address | ~network.netmask)) {
      return "the broadcast address of " + dotted_ipv4(network.address & network.netmask) + "/" +
             std::to_string(prefix);
    }
    on_a_network = true;
  }
  return on_a_network ? "" : "not on a network of this machine";
}

Result<Ipv4Network> parse_subnet(std::string_view text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos)
    return Status::Refused("no prefix length (A.B.C.D/N)");
  const std::string address(text.substr(0, slash));
  const std::string_view digits = text.substr(slash + 1);
  int prefix = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
  if (digits.empty() || digits.size() > 2 || error != std::errc() ||
      end != digits.data() + digits.size() || !is_ascii_digit(digits.front()) || prefix > 32) {
    return Status::Refused("not a prefix length 0..32: " + std::string(digits));
  }
  in_addr parsed{};
  if (!is_valid_ipv4(address) || inet_pton(AF_INET, address.c_str(), &parsed) != 1)
    return Status::Refused("not an IPv4 address: " + address);
  const std::uint32_t netmask = mask_of(prefix);
  return Ipv4Network{ntohl(parsed.s_addr) & netmask, netmask, false};
}

std::uint64_t address_count(const Ipv4Network& network) {
  return std::uint64_t{1} << (32 - std::popcount(network.netmask));
}

std::vector<std::uint32_t> subnet_hosts(const std::vector<Ipv4Network>& networks) {
  std::vector<std::uint32_t> hosts;
  for (const Ipv4Network& network : networks) {
    const std::uint64_t count = address_count(network);
    const std::uint64_t skip = count > 2 ? 1 : 0;
    for (std::uint64_t i = skip; i < count - skip; ++i)
      hosts.push_back(network.address + static_cast<std::uint32_t>(i));
  }
  std::sort(hosts.begin(), hosts.end());
  hosts.erase(std::unique(hosts.begin(), hosts.end()), hosts.end());
  return hosts;
}

std::string subnet_text(const Ipv4Network& network) {
  return dotted_ipv4(network.address) + "/" + std::to_string(std::popcount(network.netmask));
}

}  // namespace kxsane
