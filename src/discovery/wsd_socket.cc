#include "discovery/wsd_socket.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "discovery/wsd_messages.h"

namespace kxsane {
namespace {

struct IfaddrsFreer {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

}  // namespace

Result<std::vector<MulticastInterface>> multicast_interfaces() {
  ifaddrs* found = nullptr;
  if (getifaddrs(&found) != 0) {
    return Status::Failed(std::string("WS-Discovery: cannot list the network interfaces: ") +
                          std::strerror(errno));
  }
  const std::unique_ptr<ifaddrs, IfaddrsFreer> list(found);
  std::vector<MulticastInterface> interfaces;
  for (const ifaddrs* entry = found; entry; entry = entry->ifa_next) {
    const unsigned wanted = IFF_UP | IFF_MULTICAST;
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET ||
        (entry->ifa_flags & wanted) != wanted || (entry->ifa_flags & IFF_LOOPBACK)) {
      continue;
    }
    const int index = static_cast<int>(if_nametoindex(entry->ifa_name));
    if (index != 0)
      interfaces.push_back(
          {index, reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr});
  }
  return interfaces;
}

Status ProbeSocket::open() {
  socket_ = UniqueFd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket_.valid()) {
    return Status::Failed(std::string("WS-Discovery: cannot open a UDP socket: ") +
                          std::strerror(errno));
  }
  // The answers to every probe arrive at once; room for a few hundred.
  const int receive_buffer = 512 * 1024;
  setsockopt(fd(), SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  // Discovery stays on the local link.
  const unsigned char ttl = 1;
  setsockopt(fd(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);

  const Result<std::vector<MulticastInterface>> found = multicast_interfaces();
  if (!found.ok())
    return found.status();
  for (const MulticastInterface& interface : *found) {
    const bool listed =
        std::any_of(interfaces_.begin(), interfaces_.end(),
                    [&](const Interface& known) { return known.index == interface.index; });
    if (!listed)
      interfaces_.push_back({interface.index, interface.address, new_message_id()});
  }
  if (interfaces_.empty()) {
    return Status::Failed("WS-Discovery: no network interface with IPv4 multicast is up");
  }
  buffer_.resize(kMaxDatagramBytes + 1);
  return Status::Ok();
}

void ProbeSocket::send_probes() {
  sockaddr_in group{};
  group.sin_family = AF_INET;
  group.sin_port = htons(kWsdPort);
  inet_pton(AF_INET, kWsdMulticastGroup, &group.sin_addr);
  for (const Interface& interface : interfaces_) {
    ip_mreqn from{};
    from.imr_address = interface.address;
    from.imr_ifindex = interface.index;
    if (setsockopt(fd(), IPPROTO_IP, IP_MULTICAST_IF, &from, sizeof from) != 0)
      continue;
    const std::string text = probe_message(interface.message_id);
    // A lost probe is made up for by its repeats; nothing to report.
    sendto(fd(), text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&group),
           sizeof group);
  }
}

void ProbeSocket::send_probe_to(in_addr device, const std::string& message_id) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kWsdPort);
  to.sin_addr = device;
  const std::string text = probe_message(message_id);
  // As for the multicast probe: a lost one is sent again by the caller.
  sendto(fd(), text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

bool ProbeSocket::receive(std::string* datagram, in_addr* sender) {
  sockaddr_in from{};
  socklen_t from_size = sizeof from;
  const ssize_t size = recvfrom(fd(), buffer_.data(), buffer_.size(), MSG_TRUNC,
                                reinterpret_cast<sockaddr*>(&from), &from_size);
  if (size < 0)
    return false;
  *sender = from.sin_addr;
  if (static_cast<std::size_t>(size) > kMaxDatagramBytes) {
    datagram->clear();
  } else {
    datagram->assign(buffer_.data(), static_cast<std::size_t>(size));
  }
  return true;
}

bool ProbeSocket::answers_us(const std::string& relates_to) const {
  return std::any_of(interfaces_.begin(), interfaces_.end(),
                     [&](const Interface& known) { return known.message_id == relates_to; });
}

}  // namespace kxsane
