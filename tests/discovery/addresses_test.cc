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

}  // namespace
}  // namespace kxsane
