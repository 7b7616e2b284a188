#include "discovery/wsd_find.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <string>

#include "discovery/wsd_messages.h"
#include "discovery/wsd_metadata.h"
#include "discovery/wsd_socket.h"

namespace kxsane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// UDP may lose a probe: it goes out three times. Devices wait up to half a
// second before they answer, so answers are taken until a second after the
// last probe.
constexpr std::array<milliseconds, 3> kProbeTimes{milliseconds(0), milliseconds(250),
                                                  milliseconds(500)};
constexpr milliseconds kListenAfterLastProbe(1000);
// A device on the LAN answers its metadata in well under this.
constexpr milliseconds kMetadataTimeout(1000);
// Bounds the connections a flood of made-up answers can cause.
constexpr std::size_t kMaxDevices = 1024;

struct Device {
  std::string address;
  std::optional<DeviceDescription> description;
};

class WsdSearch {
 public:
  explicit WsdSearch(Clock::time_point deadline) : deadline_(deadline) {}

  Status run(Findings& out);

 private:
  // Reads the waiting answers, until none waits or `until` comes (a flood of
  // datagrams must not keep the search past its end).
  void take_answers(Clock::time_point until);
  void take_metadata();

  Clock::time_point deadline_;
  ProbeSocket socket_;
  MetadataFetcher fetcher_;
  std::vector<Device> devices_;
  std::set<std::string> endpoints_;
  std::set<in_addr_t> addresses_;
};

Status WsdSearch::run(Findings& out) {
  if (Status opened = socket_.open(); !opened.ok())
    return opened;
  if (Status ready = fetcher_.status(); !ready.ok())
    return ready;
  out.searching();
  const Clock::time_point start = Clock::now();
  const Clock::time_point listen_end =
      std::min(start + kProbeTimes.back() + kListenAfterLastProbe, deadline_);
  std::size_t probes_sent = 0;
  for (Clock::time_point now = start; now < listen_end; now = Clock::now()) {
    if (probes_sent < kProbeTimes.size() && now >= start + kProbeTimes[probes_sent]) {
      socket_.send_probes();
      ++probes_sent;
    }
    const Clock::time_point next_probe = probes_sent < kProbeTimes.size()
                                             ? start + kProbeTimes[probes_sent]
                                             : Clock::time_point::max();
    fetcher_.wait(socket_.fd(), std::min(next_probe, listen_end));
    take_answers(listen_end);
    take_metadata();
  }
  while (fetcher_.busy() && Clock::now() < deadline_) {
    fetcher_.wait(-1, deadline_);
    take_metadata();
  }
  for (const Device& device : devices_) out.add(wsd_sighting(device.description, device.address));
  return Status::Ok();
}

void WsdSearch::take_answers(Clock::time_point until) {
  std::string datagram;
  in_addr sender{};
  while (Clock::now() < until && socket_.receive(&datagram, &sender)) {
    const auto answer = parse_probe_matches(datagram);
    if (!answer || !socket_.answers_us(answer->relates_to))
      continue;
    for (const ProbeMatch& match : answer->matches) {
      // One host is one scanner: its first endpoint speaks for it.
      if (devices_.size() == kMaxDevices || addresses_.count(sender.s_addr) ||
          endpoints_.count(match.endpoint)) {
        continue;
      }
      for (const std::string& xaddr : match.xaddrs) {
        const auto url = metadata_url(xaddr, sender);
        if (!url)
          continue;
        char dotted[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &sender, dotted, sizeof dotted);
        endpoints_.insert(match.endpoint);
        addresses_.insert(sender.s_addr);
        devices_.push_back({dotted, std::nullopt});
        const auto left = std::chrono::duration_cast<milliseconds>(deadline_ - Clock::now());
        fetcher_.start(devices_.size() - 1, *url,
                       metadata_request(new_message_id(), match.endpoint),
                       std::min(kMetadataTimeout, left));
        break;
      }
    }
  }
}

void WsdSearch::take_metadata() {
  for (auto& [key, body] : fetcher_.take_finished()) {
    if (body)
      devices_[key].description = parse_metadata(*body);
  }
}

}  // namespace

Status find_wsd(Clock::time_point deadline, Findings& out) {
  return WsdSearch(deadline).run(out);
}

}  // namespace kxsane
