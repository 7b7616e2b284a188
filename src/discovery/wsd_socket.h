// The UDP side of WS-Discovery: one socket that sends the scanner Probe to
// the multicast group 239.255.255.250:3702 from every IPv4 interface with
// multicast (or to one device), and receives the devices' unicast answers on
// its own port.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <string>
#include <vector>

#include "common/safe_file.h"
#include "common/status.h"

namespace kxsane {

// Where WS-Discovery devices listen and speak.
inline constexpr const char* kWsdMulticastGroup = "239.255.255.250";
inline constexpr int kWsdPort = 3702;

// An IPv4 interface that is up, has multicast and is no loopback: its index
// and one of its addresses.
struct MulticastInterface {
  int index;
  in_addr address;
};

// Every such interface address, in the order the system lists them (an
// interface with several addresses comes once per address).
Result<std::vector<MulticastInterface>> multicast_interfaces();

// Largest datagram read; a larger one is dropped unread.
inline constexpr std::size_t kMaxDatagramBytes = std::size_t{32} * 1024;

class ProbeSocket {
 public:
  // Opens the socket and lists the interfaces to probe from; an error when
  // there is no socket or no IPv4 interface with multicast.
  Status open();

  // Sends the Probe once from every interface, each under the MessageID it
  // keeps for all its repeats (a device answers each message once).
  void send_probes();

  // Sends the Probe under `message_id` to the discovery port of `device`
  // only, whose answer comes back to this socket like the others.
  void send_probe_to(in_addr device, const std::string& message_id);

  // The descriptor to wait on for answers.
  int fd() const { return socket_.get(); }

  // Takes one waiting datagram (false when none waits). `datagram` is empty
  // when the datagram was larger than kMaxDatagramBytes.
  bool receive(std::string* datagram, in_addr* sender);

  // True when `relates_to` is the MessageID of one of our Probes.
  bool answers_us(const std::string& relates_to) const;

 private:
  struct Interface {
    int index;
    in_addr address;
    std::string message_id;
  };

  UniqueFd socket_;
  std::vector<Interface> interfaces_;
  std::string buffer_;
};

}  // namespace kxsane
