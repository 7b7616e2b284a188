#include "discovery/protocols.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <thread>

#include "discovery/dnssd.h"
#include "discovery/snmp.h"
#include "discovery/wsd_find.h"

namespace kxsane {

namespace {

// DNS-SD finds what announces itself on the local links only.
Status find_dnssd_here(const SearchScope&, std::chrono::steady_clock::time_point deadline,
                       Findings& out) {
  return find_dnssd(deadline, out);
}

constexpr Protocol kProtocols[] = {
    {"dnssd", "DNS-SD", find_dnssd_here},
    {"wsd", "WS-Discovery", find_wsd},
    {"snmp", "SNMP", find_snmp},
};

// Shared by the caller and the protocols' threads, which may outlive the
// call when given up.
struct Runs {
  explicit Runs(std::size_t count) : findings(count), statuses(count, Status::Ok()) {}
  std::vector<Findings> findings;
  std::mutex mutex;  // guards the rest
  std::condition_variable finished;
  std::vector<Status> statuses;
  std::vector<bool> done = std::vector<bool>(statuses.size(), false);
};

}  // namespace

void Findings::add(Sighting sighting) {
  const std::lock_guard lock(mutex_);
  sightings_.push_back(std::move(sighting));
}

void Findings::searching() {
  const std::lock_guard lock(mutex_);
  searching_ = true;
}

void Findings::unfinished(std::string why) {
  const std::lock_guard lock(mutex_);
  unfinished_ = std::move(why);
}

std::vector<Sighting> Findings::sightings() const {
  const std::lock_guard lock(mutex_);
  return sightings_;
}

bool Findings::has_searched() const {
  const std::lock_guard lock(mutex_);
  return searching_;
}

std::string Findings::why_unfinished() const {
  const std::lock_guard lock(mutex_);
  return unfinished_;
}

std::span<const Protocol> all_protocols() {
  return kProtocols;
}

std::vector<ProtocolResult> run_protocols(std::span<const Protocol* const> protocols,
                                          const SearchScope& scope,
                                          std::chrono::steady_clock::time_point deadline,
                                          std::chrono::milliseconds grace) {
  // The threads share the environment, which is safe to change only before
  // they start.
  use_standard_system_bus();
  auto runs = std::make_shared<Runs>(protocols.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < protocols.size(); ++i) {
    threads.emplace_back([runs, i, &scope, deadline, find = protocols[i]->find] {
      Status status = find(scope, deadline, runs->findings[i]);
      const std::lock_guard lock(runs->mutex);
      runs->statuses[i] = std::move(status);
      runs->done[i] = true;
      runs->finished.notify_all();
    });
  }
  std::unique_lock lock(runs->mutex);
  runs->finished.wait_until(lock, deadline + grace, [&] {
    return std::find(runs->done.begin(), runs->done.end(), false) == runs->done.end();
  });
  std::vector<ProtocolResult> results(protocols.size());
  for (std::size_t i = 0; i < threads.size(); ++i) {
    ProtocolResult& result = results[i];
    const Findings& findings = runs->findings[i];
    result.protocol = protocols[i];
    result.status = runs->statuses[i];
    result.unfinished = findings.why_unfinished();
    if (runs->done[i]) {
      lock.unlock();
      threads[i].join();
      lock.lock();
    } else {
      threads[i].detach();
      if (!findings.has_searched()) {
        result.status =
            Status::Failed(std::string(protocols[i]->label) + ": no answer before the timeout");
      } else if (result.unfinished.empty()) {
        result.unfinished = "no answer before the timeout";
      }
    }
    if (result.status.ok())
      result.sightings = findings.sightings();
  }
  return results;
}

}  // namespace kxsane
