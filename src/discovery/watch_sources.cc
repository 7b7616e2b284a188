#include "discovery/watch_sources.h"

#include <arpa/inet.h>
#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <tuple>

#include "discovery/dnssd.h"
#include "discovery/wsd_messages.h"
#include "discovery/wsd_metadata.h"
#include "discovery/wsd_socket.h"

namespace kxsane {

namespace {

using std::chrono::milliseconds;

std::string lower_ascii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The browsers and resolvers of one connection to the daemon; all of them
// go with the client.
class DnssdWatch {
 public:
  DnssdWatch(const HeardSink& sink, const std::function<void()>& ready)
      : sink_(sink), ready_(ready) {}

  [[noreturn]] void run() {
    poll_ = avahi_simple_poll_new();
    if (poll_ == nullptr) {
      // Out of memory at the start: the watcher goes on without DNS-SD.
      ready_();
      for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }
    connect();
    for (;;) {
      if (avahi_simple_poll_iterate(poll_, -1) != 0) {
        // Nothing to wait on: try again later rather than spin.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (client_ == nullptr)
          connect();
      }
    }
  }

 private:
  using Key = std::tuple<AvahiIfIndex, AvahiProtocol, std::string, std::string, std::string>;

  void connect() {
    int error = 0;
    // Without the daemon the client waits for it rather than failing.
    client_ = avahi_client_new(avahi_simple_poll_get(poll_), AVAHI_CLIENT_NO_FAIL,
                               &DnssdWatch::on_client, this, &error);
    if (!told_ready_) {
      told_ready_ = true;
      ready_();
    }
  }

  static void on_client(AvahiClient* client, AvahiClientState state, void* self) {
    auto* watch = static_cast<DnssdWatch*>(self);
    if (state == AVAHI_CLIENT_S_RUNNING && !watch->browsing_) {
      watch->browsing_ = true;
      for (const char* type : browsed_service_types()) {
        avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, type, nullptr,
                                  static_cast<AvahiLookupFlags>(0), &DnssdWatch::on_browse, self);
      }
    } else if (state == AVAHI_CLIENT_FAILURE) {
      // The daemon went away: everything of this connection goes with the
      // client, and a new one waits for the daemon to come back.
      watch->resolvers_.clear();
      watch->browsing_ = false;
      avahi_client_free(client);
      watch->client_ = nullptr;
      watch->connect();
    } else if (state == AVAHI_CLIENT_CONNECTING) {
      watch->resolvers_.clear();
      watch->browsing_ = false;
    }
  }

  static void on_browse(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
                        AvahiBrowserEvent event, const char* name, const char* type,
                        const char* domain, AvahiLookupResultFlags, void* self) {
    auto* watch = static_cast<DnssdWatch*>(self);
    if (name == nullptr || type == nullptr || domain == nullptr)
      return;
    const Key key{interface, protocol, name, type, domain};
    if (event == AVAHI_BROWSER_NEW) {
      if (watch->resolvers_.size() >= kMaxDnssdInstances || watch->resolvers_.count(key))
        return;
      // Kept open: it answers again whenever the instance's records change.
      AvahiServiceResolver* resolver = avahi_service_resolver_new(
          watch->client_, interface, protocol, name, type, domain, AVAHI_PROTO_INET,
          static_cast<AvahiLookupFlags>(0), &DnssdWatch::on_resolve, self);
      if (resolver != nullptr)
        watch->resolvers_.emplace(key, resolver);
    } else if (event == AVAHI_BROWSER_REMOVE) {
      if (const auto found = watch->resolvers_.find(key); found != watch->resolvers_.end()) {
        avahi_service_resolver_free(found->second);
        watch->resolvers_.erase(found);
      }
    }
  }

  static void on_resolve(AvahiServiceResolver*, AvahiIfIndex, AvahiProtocol,
                         AvahiResolverEvent event, const char* name, const char* type, const char*,
                         const char* host, const AvahiAddress* address, uint16_t,
                         AvahiStringList* txt, AvahiLookupResultFlags, void* self) {
    auto* watch = static_cast<DnssdWatch*>(self);
    if (event != AVAHI_RESOLVER_FOUND || address == nullptr || address->proto != AVAHI_PROTO_INET)
      return;
    const DnssdRecord record = resolved_record(type, name, host, *address, txt);
    if (!is_scanner_record(record))
      return;
    Sighting sighting = sighting_from_dnssd(record);
    std::string identity = "dnssd:" + lower_ascii(sighting.host);
    watch->sink_(Heard{std::move(sighting), std::move(identity)});
  }

  const HeardSink& sink_;
  const std::function<void()>& ready_;
  AvahiSimplePoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  bool browsing_ = false;
  bool told_ready_ = false;
  std::map<Key, AvahiServiceResolver*> resolvers_;
};

// Interfaces are looked at again this often; a new address is probed from.
constexpr std::chrono::seconds kInterfaceScan{2};
// A device is asked for its metadata at most this often, and at most this
// many at a time: a flood of Hellos costs bounded connections.
constexpr std::chrono::seconds kFetchQuiet{60};
constexpr std::size_t kMaxFetches = 16;
constexpr milliseconds kMetadataTimeout{1000};
constexpr std::size_t kMaxConfirming = 64;
constexpr milliseconds kConfirmTimeout{1000};

}  // namespace

[[noreturn]] void watch_dnssd(const HeardSink& sink, const std::function<void()>& ready) {
  DnssdWatch(sink, ready).run();
}

struct WsdWatch::State {
  UniqueFd group;
  std::unique_ptr<ProbeSocket> probe;
  MetadataFetcher fetcher;
  AppSequenceBook sequences;
  BoundedTable<WatchClock::time_point> fetched;                        // by fetch_key
  std::map<std::size_t, std::pair<std::string, std::string>> pending;  // key: endpoint, address
  // Probes sent to one address to confirm that what spoke from it holds
  // it, by MessageID: the address and when the confirmation is given up.
  std::map<std::string, std::pair<in_addr_t, WatchClock::time_point>> confirming;
  std::size_t next_key = 0;
  std::set<std::pair<int, in_addr_t>> interfaces;
  std::string buffer = std::string(kMaxDatagramBytes + 1, '\0');

  // A device at one address: the same endpoint at another (it moved) is
  // asked again.
  static std::string fetch_key(const ProbeMatch& device, in_addr sender) {
    return device.endpoint + " " + std::to_string(sender.s_addr);
  }

  // Joins the group on every interface not joined yet; true when one was
  // new.
  bool join_new_interfaces() {
    bool changed = false;
    const Result<std::vector<MulticastInterface>> found = multicast_interfaces();
    if (!found.ok())
      return false;
    for (const MulticastInterface& listed : *found) {
      const std::pair<int, in_addr_t> interface { listed.index, listed.address.s_addr };
      if (interfaces.count(interface))
        continue;
      interfaces.insert(interface);
      changed = true;
      ip_mreqn join{};
      inet_pton(AF_INET, kWsdMulticastGroup, &join.imr_multiaddr);
      join.imr_ifindex = interface.first;
      // Joined already on that interface under another address: no harm.
      setsockopt(group.get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join);
    }
    return changed;
  }

  void probe_again() {
    auto fresh = std::make_unique<ProbeSocket>();
    if (fresh->open().ok()) {
      probe = std::move(fresh);
      probe->send_probes();
    }
  }

  // Anyone can send a datagram from any source address: before the device
  // that spoke at `sender` is asked anything over HTTP, a Probe goes to
  // that address alone, and only its answer from there counts.
  void confirm(const ProbeMatch& device, in_addr sender) {
    const WatchClock::time_point now = WatchClock::now();
    std::erase_if(confirming, [&](const auto& entry) { return entry.second.second < now; });
    if (!probe || confirming.size() >= kMaxConfirming)
      return;
    if (const auto* last = fetched.find(fetch_key(device, sender));
        last && now - *last < kFetchQuiet)
      return;
    const std::string id = new_message_id();
    confirming[id] = {sender.s_addr, now + kConfirmTimeout};
    probe->send_probe_to(sender, id);
  }

  // Takes an answer to a confirming Probe: true when it was one.
  bool confirmed(const ProbeMatches& answer, in_addr sender) {
    const auto found = confirming.find(answer.relates_to);
    if (found == confirming.end())
      return false;
    const bool from_there = found->second.first == sender.s_addr;
    confirming.erase(found);
    if (from_there) {
      for (const ProbeMatch& match : answer.matches) ask(match, sender);
    }
    return true;
  }

  // Asks the device that spoke at `sender` for its metadata, unless it was
  // asked lately or too many are being asked.
  void ask(const ProbeMatch& device, in_addr sender) {
    if (pending.size() >= kMaxFetches)
      return;
    const WatchClock::time_point now = WatchClock::now();
    const std::string key = fetch_key(device, sender);
    if (const auto* last = fetched.find(key); last && now - *last < kFetchQuiet)
      return;
    for (const std::string& xaddr : device.xaddrs) {
      const auto url = metadata_url(xaddr, sender);
      if (!url)
        continue;
      fetched[key] = now;
      char dotted[INET_ADDRSTRLEN];
      inet_ntop(AF_INET, &sender, dotted, sizeof dotted);
      pending[next_key] = {device.endpoint, dotted};
      fetcher.start(next_key++, *url, metadata_request(new_message_id(), device.endpoint),
                    kMetadataTimeout);
      return;
    }
  }

  bool receive(int fd, in_addr* sender, std::string_view* datagram) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t got = recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &length);
    if (got < 0)
      return false;
    *sender = from.sin_addr;
    // A datagram larger than any message is dropped unread.
    *datagram = static_cast<std::size_t>(got) > kMaxDatagramBytes
                    ? std::string_view()
                    : std::string_view(buffer.data(), static_cast<std::size_t>(got));
    return true;
  }
};

Status WsdWatch::open() {
  state_ = std::make_shared<State>();
  State& s = *state_;
  s.group = UniqueFd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!s.group.valid())
    return errno_error("WS-Discovery: cannot open a UDP socket");
  // Other listeners on the machine share the port; only the group's
  // datagrams, only from the interfaces joined.
  const int on = 1;
  const int off = 0;
  setsockopt(s.group.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(s.group.get(), IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_port = htons(kWsdPort);
  inet_pton(AF_INET, kWsdMulticastGroup, &bound.sin_addr);
  if (bind(s.group.get(), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0)
    return errno_error("WS-Discovery: cannot listen on 239.255.255.250:3702");
  if (Status ready = s.fetcher.status(); !ready.ok())
    return ready;
  s.join_new_interfaces();
  return Status::Ok();
}

[[noreturn]] void WsdWatch::run(const HeardSink& sink) {
  State& s = *state_;
  s.probe_again();
  WatchClock::time_point next_scan = WatchClock::now() + kInterfaceScan;
  for (;;) {
    const WatchClock::time_point now = WatchClock::now();
    if (now >= next_scan) {
      if (s.join_new_interfaces())
        s.probe_again();
      next_scan = now + kInterfaceScan;
    }
    s.fetcher.wait(s.group.get(), std::min(next_scan, now + milliseconds(100)));
    in_addr sender{};
    std::string_view datagram;
    while (s.receive(s.group.get(), &sender, &datagram)) {
      const auto announcement = parse_announcement(datagram);
      if (!announcement ||
          !s.sequences.is_fresh(announcement->device.endpoint, announcement->sequence))
        continue;
      if (announcement->hello)
        s.confirm(announcement->device, sender);
    }
    while (s.probe && s.receive(s.probe->fd(), &sender, &datagram)) {
      const auto answer = parse_probe_matches(datagram);
      if (!answer || s.confirmed(*answer, sender) || !s.probe->answers_us(answer->relates_to))
        continue;
      for (const ProbeMatch& match : answer->matches) s.confirm(match, sender);
    }
    for (auto& [key, body] : s.fetcher.take_finished()) {
      const auto found = s.pending.find(key);
      if (found == s.pending.end())
        continue;
      auto [endpoint, address] = std::move(found->second);
      s.pending.erase(found);
      const std::optional<DeviceDescription> description =
          body ? parse_metadata(*body) : std::nullopt;
      sink(Heard{wsd_sighting(description, address), "wsd:" + endpoint});
    }
  }
}

}  // namespace kxsane
