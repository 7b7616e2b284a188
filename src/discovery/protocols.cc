#include "discovery/protocols.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "discovery/dnssd.h"
#include "discovery/wsd_find.h"

namespace kxsane {

namespace {

constexpr Protocol kProtocols[] = {
    {"dnssd", "DNS-SD", find_dnssd},
    {"wsd", "WS-Discovery", find_wsd},
};

// Shared by the caller and the protocols' threads, which may outlive the
// call when given up.
struct Runs {
  std::mutex mutex;
  std::condition_variable finished;
  std::vector<ProtocolResult> results;
  std::vector<bool> done;
};

}  // namespace

std::span<const Protocol> all_protocols() {
  return kProtocols;
}

std::vector<ProtocolResult> run_protocols(std::span<const Protocol* const> protocols,
                                          std::chrono::steady_clock::time_point deadline,
                                          std::chrono::milliseconds grace) {
  auto runs = std::make_shared<Runs>();
  runs->results.resize(protocols.size());
  runs->done.assign(protocols.size(), false);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < protocols.size(); ++i) {
    runs->results[i].protocol = protocols[i];
    threads.emplace_back([runs, i, deadline, find = protocols[i]->find] {
      std::vector<Sighting> sightings;
      Status status = find(deadline, &sightings);
      const std::lock_guard lock(runs->mutex);
      runs->results[i].status = std::move(status);
      runs->results[i].sightings = std::move(sightings);
      runs->done[i] = true;
      runs->finished.notify_all();
    });
  }
  std::unique_lock lock(runs->mutex);
  runs->finished.wait_until(lock, deadline + grace, [&] {
    return std::find(runs->done.begin(), runs->done.end(), false) == runs->done.end();
  });
  std::vector<ProtocolResult> results = runs->results;
  for (std::size_t i = 0; i < threads.size(); ++i) {
    if (runs->done[i]) {
      lock.unlock();
      threads[i].join();
      lock.lock();
    } else {
      threads[i].detach();
      results[i].status =
          Status::Failed(std::string(protocols[i]->label) + ": no answer before the timeout");
    }
  }
  return results;
}

}  // namespace kxsane
