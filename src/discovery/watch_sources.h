// What the watcher listens to, each on a thread of its own that runs until
// the process ends: DNS-SD browsers kept open through the Avahi daemon (which
// may go away and come back), and the WS-Discovery multicast group, where
// devices say Hello and Bye. Every sighting goes to a sink as it is made.
// Nothing here prints.
#pragma once

#include <functional>
#include <string>

#include "common/status.h"
#include "discovery/watch.h"

namespace kxsane {

// Called on a source's thread for every sighting; must not block for long.
using HeardSink = std::function<void(Heard)>;

// Keeps browsing the scanner service types and resolving their instances
// (at most kMaxDnssdInstances at a time), reconnecting whenever the daemon
// restarts; a sighting for every instance resolved, and again whenever its
// records change. Never returns. `ready` is called once the browsers are
// set up, or waiting for the daemon to come.
[[noreturn]] void watch_dnssd(const HeardSink& sink, const std::function<void()>& ready);

// Opens the WS-Discovery sockets: one on the multicast group (shared with
// other listeners), one that probes. Failed when neither can be had.
class WsdWatch {
 public:
  Status open();
  // Probes once, then listens for Hello, Bye and the answers to its probes,
  // probing again when an interface address appears; asks each device that
  // speaks, once a Probe sent to its address alone has been answered from
  // there, for its metadata (only at that address), and hands on a
  // sighting. Drops stale and repeated messages (AppSequence). Never
  // returns.
  [[noreturn]] void run(const HeardSink& sink);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace kxsane
