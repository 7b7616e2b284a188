#include "discovery/wsd_find.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "discovery/wsd_messages.h"
#include "discovery/wsd_metadata.h"
#include "discovery/wsd_socket.h"

namespace kxsane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// UDP may lose a probe: it goes out three times. Devices wait up to half a
// second before they answer, so answers are taken until a second after the
// last probe. The probe that confirms one device goes out the same way, and
// a device that has not answered it a second after the first is dropped.
constexpr std::array<milliseconds, 3> kProbeTimes{milliseconds(0), milliseconds(250),
                                                  milliseconds(500)};
constexpr milliseconds kListenAfterLastProbe(1000);
constexpr milliseconds kConfirmTimeout(1000);
// A device on the LAN answers its metadata in well under this.
constexpr milliseconds kMetadataTimeout(1000);
// Bounds the probes and connections a flood of made-up answers can cause.
constexpr std::size_t kMaxDevices = 1024;
// At most this many addresses of the subnets wait for their answer at once.
constexpr std::size_t kMaxSubnetInFlight = 256;

struct Device {
  enum class State { kConfirming, kDescribing, kDone };
  State state = State::kConfirming;
  in_addr sender{};
  std::string address;     // `sender`, dotted
  std::string confirm_id;  // the MessageID of the Probe sent to it alone
  Clock::time_point asked;
  std::size_t probes_sent = 0;
};

class WsdSearch {
 public:
  WsdSearch(const SearchScope& scope, Clock::time_point deadline, Findings& out)
      : deadline_(deadline), out_(out), subnet_hosts_(subnet_hosts(scope.subnets)) {}

  Status run();

 private:
  // Sends the probes that are due; the time the next one is due.
  Clock::time_point send_probes(Clock::time_point start, Clock::time_point listen_end);
  // Reads the waiting answers, until none waits or the deadline comes (a
  // flood of datagrams must not keep the search past its end).
  void take_answers(bool listening);
  void take_answer(const std::string& datagram, in_addr sender, bool listening);
  // A device to confirm at `sender`, probed there alone.
  void add_device(in_addr sender);
  // Probes the next addresses of the subnets, each as a device to confirm,
  // while fewer than kMaxSubnetInFlight of those wait.
  void probe_subnets();
  void confirm(Device& device, std::size_t key, const ProbeMatches& answer);
  void take_metadata();
  bool waiting() const;

  Clock::time_point deadline_;
  Findings& out_;
  ProbeSocket socket_;
  MetadataFetcher fetcher_;
  std::size_t probes_sent_ = 0;
  std::vector<Device> devices_;
  std::map<in_addr_t, std::size_t> by_sender_;
  std::map<std::string, std::size_t> by_confirm_id_;
  std::set<std::string> endpoints_;
  std::size_t multicast_devices_ = 0;  // of devices_, those that answered the group
  std::vector<std::uint32_t> subnet_hosts_;
  std::size_t next_subnet_host_ = 0;
  std::vector<std::size_t> subnet_waiting_;  // keys of subnet devices confirming
};

Status WsdSearch::run() {
  if (Status opened = socket_.open(); !opened.ok())
    return opened;
  if (Status ready = fetcher_.status(); !ready.ok())
    return ready;
  out_.searching();
  const Clock::time_point start = Clock::now();
  const Clock::time_point listen_end =
      std::min(start + kProbeTimes.back() + kListenAfterLastProbe, deadline_);
  for (Clock::time_point now = start; now < deadline_; now = Clock::now()) {
    const bool listening = now < listen_end;
    if (!listening && !waiting())
      break;
    const Clock::time_point next = send_probes(start, listen_end);
    fetcher_.wait(socket_.fd(), std::min({next, listening ? listen_end : deadline_, deadline_}));
    take_answers(listening);
    take_metadata();
  }
  std::size_t unanswered = subnet_hosts_.size() - next_subnet_host_;
  for (Device& device : devices_) {
    if (device.state == Device::State::kDescribing)
      out_.add(wsd_sighting(std::nullopt, device.address));
    unanswered += device.state != Device::State::kDone;
  }
  out_.unfinished(unanswered == 0 ? ""
                                  : std::to_string(unanswered) +
                                        " devices had not answered before the timeout");
  return Status::Ok();
}

bool WsdSearch::waiting() const {
  return fetcher_.busy() || next_subnet_host_ < subnet_hosts_.size() ||
         std::any_of(devices_.begin(), devices_.end(),
                     [](const Device& d) { return d.state == Device::State::kConfirming; });
}

Clock::time_point WsdSearch::send_probes(Clock::time_point start, Clock::time_point listen_end) {
  probe_subnets();
  const Clock::time_point now = Clock::now();
  Clock::time_point next = Clock::time_point::max();
  if (probes_sent_ < kProbeTimes.size() && now >= start + kProbeTimes[probes_sent_] &&
      now < listen_end) {
    socket_.send_probes();
    ++probes_sent_;
  }
  if (probes_sent_ < kProbeTimes.size())
    next = start + kProbeTimes[probes_sent_];
  for (Device& device : devices_) {
    if (device.state != Device::State::kConfirming)
      continue;
    if (now >= device.asked + kConfirmTimeout) {
      device.state = Device::State::kDone;  // dropped: never listed
      continue;
    }
    if (device.probes_sent < kProbeTimes.size() &&
        now >= device.asked + kProbeTimes[device.probes_sent]) {
      socket_.send_probe_to(device.sender, device.confirm_id);
      ++device.probes_sent;
    }
    next = std::min(next, device.probes_sent < kProbeTimes.size()
                              ? device.asked + kProbeTimes[device.probes_sent]
                              : device.asked + kConfirmTimeout);
  }
  return next;
}

void WsdSearch::take_answers(bool listening) {
  std::string datagram;
  in_addr sender{};
  while (Clock::now() < deadline_ && socket_.receive(&datagram, &sender))
    take_answer(datagram, sender, listening);
}

void WsdSearch::take_answer(const std::string& datagram, in_addr sender, bool listening) {
  const auto answer = parse_probe_matches(datagram);
  if (!answer || answer->matches.empty())
    return;
  if (const auto asked = by_confirm_id_.find(answer->relates_to); asked != by_confirm_id_.end()) {
    Device& device = devices_[asked->second];
    if (device.state == Device::State::kConfirming && device.sender.s_addr == sender.s_addr)
      confirm(device, asked->second, *answer);
    return;
  }
  // One host is one scanner: its first answer to the multicast probe makes
  // it one to confirm.
  if (!listening || !socket_.answers_us(answer->relates_to) || multicast_devices_ == kMaxDevices ||
      by_sender_.count(sender.s_addr)) {
    return;
  }
  ++multicast_devices_;
  add_device(sender);
}

void WsdSearch::probe_subnets() {
  std::erase_if(subnet_waiting_, [this](std::size_t key) {
    return devices_[key].state != Device::State::kConfirming;
  });
  while (subnet_waiting_.size() < kMaxSubnetInFlight && next_subnet_host_ < subnet_hosts_.size() &&
         Clock::now() < deadline_) {
    const in_addr host{htonl(subnet_hosts_[next_subnet_host_++])};
    if (by_sender_.count(host.s_addr))
      continue;
    subnet_waiting_.push_back(devices_.size());
    add_device(host);
  }
}

void WsdSearch::add_device(in_addr sender) {
  Device device;
  device.sender = sender;
  char dotted[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &sender, dotted, sizeof dotted);
  device.address = dotted;
  device.confirm_id = new_message_id();
  device.asked = Clock::now();
  device.probes_sent = 1;
  socket_.send_probe_to(sender, device.confirm_id);
  by_sender_.emplace(sender.s_addr, devices_.size());
  by_confirm_id_.emplace(device.confirm_id, devices_.size());
  devices_.push_back(std::move(device));
}

// The device answered the probe sent to it alone: its endpoint and transport
// addresses are its own.
void WsdSearch::confirm(Device& device, std::size_t key, const ProbeMatches& answer) {
  device.state = Device::State::kDone;
  for (const ProbeMatch& match : answer.matches) {
    if (endpoints_.count(match.endpoint))
      continue;
    for (const std::string& xaddr : match.xaddrs) {
      const auto url = metadata_url(xaddr, device.sender);
      if (!url)
        continue;
      endpoints_.insert(match.endpoint);
      device.state = Device::State::kDescribing;
      const auto left = std::chrono::duration_cast<milliseconds>(deadline_ - Clock::now());
      fetcher_.start(key, *url, metadata_request(new_message_id(), match.endpoint),
                     std::min(kMetadataTimeout, left));
      return;
    }
  }
}

void WsdSearch::take_metadata() {
  for (auto& [key, body] : fetcher_.take_finished()) {
    Device& device = devices_[key];
    device.state = Device::State::kDone;
    out_.add(wsd_sighting(body ? parse_metadata(*body) : std::nullopt, device.address));
  }
}

}  // namespace

Status find_wsd(const SearchScope& scope, Clock::time_point deadline, Findings& out) {
  return WsdSearch(scope, deadline, out).run();
}

}  // namespace kxsane
