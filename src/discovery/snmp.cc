#include "discovery/snmp.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "common/safe_file.h"
#include "discovery/snmp_answer.h"

namespace kxsane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kSnmpPort = 161;
constexpr milliseconds kBroadcastListen(1000);
constexpr milliseconds kUnicastPatience(500);
// Bounds what a flood of made-up answers can make the finder keep.
constexpr std::size_t kMaxSnmpDevices = 1024;

// One interface's network, asked through its broadcast address.
struct BroadcastNetwork {
  std::uint32_t own;  // host byte order, as the other addresses here
  std::uint32_t netmask;
  std::uint32_t broadcast;
};

sockaddr_in socket_address(std::uint32_t address) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kSnmpPort);
  to.sin_addr.s_addr = htonl(address);
  return to;
}

class SnmpSearch {
 public:
  SnmpSearch(const SearchScope& scope, Clock::time_point deadline, Findings& out)
      : scope_(scope), deadline_(deadline), out_(out) {}

  Status run();

 private:
  Status open();
  bool send_to(std::uint32_t address);
  // Gives up the requests whose time is over and sends the next ones.
  void move_unicast_on(Clock::time_point now);
  // Reads the waiting answers, until none waits or the deadline comes (a
  // flood of datagrams must not keep the search past its end).
  void take_answers();
  bool accepted_sender(std::uint32_t address) const;

  const SearchScope& scope_;
  Clock::time_point deadline_;
  Findings& out_;
  UniqueFd socket_;
  std::string request_;
  std::int32_t request_id_ = 0;
  std::vector<BroadcastNetwork> broadcasts_;
  std::vector<std::uint32_t> hosts_;  // of the subnets
  std::size_t next_host_ = 0;
  std::deque<std::pair<Clock::time_point, std::uint32_t>> give_up_;  // in sending order
  std::set<std::uint32_t> waiting_;
  std::set<std::uint32_t> asked_;
  std::set<std::uint32_t> answered_;
  std::string buffer_ = std::string(kMaxSnmpAnswerBytes + 1, '\0');
  bool sent_any_ = false;
  int send_error_ = 0;
};

Status SnmpSearch::open() {
  socket_ = UniqueFd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket_.valid())
    return Status::Failed(std::string("SNMP: cannot open a UDP socket: ") + std::strerror(errno));
  const int on = 1;
  setsockopt(socket_.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  // A broadcast's answers arrive at once; room for a few hundred.
  const int receive_buffer = 512 * 1024;
  setsockopt(socket_.get(), SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);

  ifaddrs* list = nullptr;
  if (getifaddrs(&list) == 0) {
    const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, freeifaddrs);
    for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
      const unsigned wanted = IFF_UP | IFF_BROADCAST;
      if (a->ifa_addr == nullptr || a->ifa_netmask == nullptr ||
          a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & wanted) != wanted ||
          (a->ifa_flags & IFF_LOOPBACK) != 0) {
        continue;
      }
      const auto host = [](const sockaddr* s) {
        return ntohl(reinterpret_cast<const sockaddr_in*>(s)->sin_addr.s_addr);
      };
      // The network's own broadcast address, whether or not the interface
      // was given one; networks of one or two addresses have none.
      const std::uint32_t own = host(a->ifa_addr);
      const std::uint32_t netmask = host(a->ifa_netmask);
      if ((~netmask) > 1)
        broadcasts_.push_back({own, netmask, own | ~netmask});
    }
  }
  hosts_ = subnet_hosts(scope_.subnets);
  if (broadcasts_.empty() && hosts_.empty())
    return Status::Failed("SNMP: no network interface with IPv4 broadcast is up, and no --subnet");

  std::random_device random;
  request_id_ = static_cast<std::int32_t>(random() & 0x7FFFFFFF);
  request_ = snmp_request(scope_.community, request_id_);
  if (request_.empty())
    return Status::Failed("SNMP: cannot encode the request");
  return Status::Ok();
}

bool SnmpSearch::send_to(std::uint32_t address) {
  const sockaddr_in to = socket_address(address);
  if (sendto(socket_.get(), request_.data(), request_.size(), 0,
             reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
    send_error_ = errno;
    return false;
  }
  sent_any_ = true;
  return true;
}

void SnmpSearch::move_unicast_on(Clock::time_point now) {
  while (!give_up_.empty() && give_up_.front().first <= now) {
    waiting_.erase(give_up_.front().second);
    give_up_.pop_front();
  }
  while (waiting_.size() < kMaxSnmpInFlight && next_host_ < hosts_.size()) {
    const std::uint32_t host = hosts_[next_host_++];
    asked_.insert(host);
    if (!send_to(host))
      continue;
    waiting_.insert(host);
    give_up_.emplace_back(now + kUnicastPatience, host);
  }
}

bool SnmpSearch::accepted_sender(std::uint32_t address) const {
  if (asked_.count(address) != 0)
    return true;
  return std::any_of(broadcasts_.begin(), broadcasts_.end(), [&](const BroadcastNetwork& n) {
    return (address & n.netmask) == (n.own & n.netmask) && address != n.broadcast &&
           address != n.own;
  });
}

void SnmpSearch::take_answers() {
  while (Clock::now() < deadline_) {
    sockaddr_in from{};
    socklen_t from_size = sizeof from;
    const ssize_t size = recvfrom(socket_.get(), buffer_.data(), buffer_.size(), MSG_TRUNC,
                                  reinterpret_cast<sockaddr*>(&from), &from_size);
    if (size < 0)
      return;
    const std::uint32_t sender = ntohl(from.sin_addr.s_addr);
    if (static_cast<std::size_t>(size) > kMaxSnmpAnswerBytes || ntohs(from.sin_port) != kSnmpPort ||
        !accepted_sender(sender)) {
      continue;
    }
    const auto answer =
        parse_snmp_answer(std::string_view(buffer_.data(), static_cast<std::size_t>(size)));
    if (!answer || answer->request_id != request_id_)
      continue;
    waiting_.erase(sender);
    if (answered_.size() < kMaxSnmpDevices && answered_.insert(sender).second)
      out_.add(sighting_from_snmp(*answer, dotted_ipv4(sender)));
  }
}

Status SnmpSearch::run() {
  if (Status opened = open(); !opened.ok())
    return opened;
  out_.searching();
  const Clock::time_point start = Clock::now();
  for (const BroadcastNetwork& network : broadcasts_) send_to(network.broadcast);
  const Clock::time_point listen_end = broadcasts_.empty() ? start : start + kBroadcastListen;
  for (Clock::time_point now = start; now < deadline_; now = Clock::now()) {
    move_unicast_on(now);
    if (!sent_any_ && next_host_ == hosts_.size()) {
      return Status::Failed(std::string("SNMP: cannot send a request: ") +
                            std::strerror(send_error_));
    }
    if (now >= listen_end && waiting_.empty() && next_host_ == hosts_.size())
      break;
    Clock::time_point until = deadline_;
    if (now < listen_end)
      until = std::min(until, listen_end);
    if (!give_up_.empty())
      until = std::min(until, give_up_.front().first);
    const auto left = std::chrono::ceil<milliseconds>(until - now).count();
    pollfd waiting{socket_.get(), POLLIN, 0};
    poll(&waiting, 1, static_cast<int>(std::clamp<long long>(left, 0, 1000)));
    take_answers();
  }
  const std::size_t left = waiting_.size() + (hosts_.size() - next_host_);
  out_.unfinished(left == 0 ? ""
                            : std::to_string(left) +
                                  " addresses of the subnets not asked or answered before the "
                                  "timeout");
  return Status::Ok();
}

}  // namespace

Status find_snmp(const SearchScope& scope, Clock::time_point deadline, Findings& out) {
  return SnmpSearch(scope, deadline, out).run();
}

}  // namespace kxsane
