#include "discovery/addresses.h"

#include <gtest/gtest.h>

namespace kxsane {
namespace {

TEST(AddressRefusal, OnlyUnicastHostsOfTheMachinesNetworksThatAreNotItsOwn) {
  const std::vector<Ipv4Network> networks = {
      {0x0A4D0001, 0xFFFF0000},  // 10.77.0.1/16
      {0xC0A8010A, 0xFFFFFF00},  // 192.168.1.10/24
      {0x0A090900, 0xFFFFFFFE},  // 10.9.9.0/31: two hosts, no broadcast
      {0xA9FE0505, 0xFFFF0000},  // 169.254.5.5/16
  };
  const struct {
    const char* address;
    std::string refusal;
  } kCases[] = {
      {"10.77.1.4", ""},
      {"192.168.1.20", ""},
      {"10.9.9.1", ""},
      {"192.168.2.1", "not on a network of this machine"},
      {"10.77.0.1", "an address of this machine"},
      {"10.9.9.0", "an address of this machine"},
      {"10.77.255.255", "the broadcast address of 10.77.0.0/16"},
      {"192.168.1.255", "the broadcast address of 192.168.1.0/24"},
      {"0.0.0.0", "an address of no host (0.0.0.0/8)"},
      {"0.1.2.3", "an address of no host (0.0.0.0/8)"},
      {"127.0.0.1", "a loopback address"},
      {"169.254.1.1", "a link-local address"},  // even on a link-local network
      {"224.0.0.1", "a multicast address"},
      {"239.255.255.250", "a multicast address"},
      {"240.0.0.1", "a reserved address (240.0.0.0/4)"},
      {"255.255.255.255", "the broadcast address"},
      {"10.77.1", "not an IPv4 address"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(address_refusal(c.address, networks), c.refusal) << c.address;
}

TEST(Subnet, ParsedAsItsNetworkAndWalkedWithoutNetworkAndBroadcastAddresses) {
  const struct {
    const char* text;
    const char* network;  // nullptr: refused
    std::size_t hosts;
    const char* first;
  } kCases[] = {
      {"10.78.0.0/24", "10.78.0.0/24", 254, "10.78.0.1"},
      {"10.78.0.77/24", "10.78.0.0/24", 254, "10.78.0.1"},  // host bits cleared
      {"10.78.3.4/32", "10.78.3.4/32", 1, "10.78.3.4"},
      {"10.78.3.4", nullptr, 0, nullptr},
      {"10.78.3.4/31", "10.78.3.4/31", 2, "10.78.3.4"},  // both are hosts
      {"10.78.16.0/20", "10.78.16.0/20", 4094, "10.78.16.1"},
      {"10.78.0.0/33", nullptr, 0, nullptr},
      {"10.78.0.0/+8", nullptr, 0, nullptr},
      {"10.78.0.0/24x", nullptr, 0, nullptr},
      {"10.78.0.0/024", nullptr, 0, nullptr},
      {"kx.local/24", nullptr, 0, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    const Result<Ipv4Network> network = parse_subnet(c.text);
    ASSERT_EQ(network.ok(), c.network != nullptr) << network.status().message();
    if (!network.ok())
      continue;
    EXPECT_EQ(subnet_text(*network), c.network);
    EXPECT_FALSE(network->own);
    const std::vector<std::uint32_t> hosts = subnet_hosts({*network});
    ASSERT_EQ(hosts.size(), c.hosts);
    EXPECT_EQ(subnet_text({hosts.front(), 0xFFFFFFFF, false}), std::string(c.first) + "/32");
  }
  // Overlapping networks: each address once, in order.
  const std::vector<std::uint32_t> both =
      subnet_hosts({*parse_subnet("10.78.0.4/30"), *parse_subnet("10.78.0.0/29")});
  EXPECT_EQ(both, (std::vector<std::uint32_t>{0x0A4E0001, 0x0A4E0002, 0x0A4E0003, 0x0A4E0004,
                                              0x0A4E0005, 0x0A4E0006}));
  // A network named by the admin holds no address of the machine.
  EXPECT_EQ(address_refusal("10.78.0.0", {*parse_subnet("10.78.0.0/31")}), "");
}

}  // namespace
}  // namespace kxsane
