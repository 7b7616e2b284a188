// The discovery protocols, one table, run side by side.
#pragma once

#include <chrono>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/status.h"
#include "discovery/search_scope.h"
#include "discovery/sighting.h"

namespace kxsane {

// Where a protocol hands over what it finds, as it finds it, so that nothing
// found is lost when the protocol does not finish in time. The protocol's
// thread writes to it while the caller may read it; every call takes its
// lock.
class Findings {
 public:
  // Takes one sighting.
  void add(Sighting sighting);
  // Says that the protocol has reached its daemon or its network and
  // searches: from now on it counts as having run, finished or not.
  void searching();
  // Says why the protocol has not found all it could, should the caller stop
  // waiting for it now (set before a call that may block); "" when it has.
  void unfinished(std::string why);

  // The caller's side.
  std::vector<Sighting> sightings() const;
  bool has_searched() const;
  std::string why_unfinished() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Sighting> sightings_;
  bool searching_ = false;
  std::string unfinished_;
};

// A protocol hands to `out` what it sees within `scope` (a protocol that
// only listens on the local links ignores it) until it has heard everything
// it expects or `deadline` comes, whichever is first; an error only when it
// could not run at all (and then says what to start or install).
using FindFunction = Status (*)(const SearchScope& scope,
                                std::chrono::steady_clock::time_point deadline, Findings& out);

struct Protocol {
  const char* key;    // as --protocol names it
  const char* label;  // as the report names it
  FindFunction find;
};

// Every protocol the finder knows, in the order it reports them.
std::span<const Protocol> all_protocols();

// What one protocol made of one run.
struct ProtocolResult {
  const Protocol* protocol = nullptr;
  // An error when it could not run at all; then it found nothing.
  Status status = Status::Ok();
  // Empty when it finished; otherwise why not ("the Avahi daemon stopped
  // answering"); `sightings` is what it had found until then.
  std::string unfinished;
  std::vector<Sighting> sightings;
};

// Runs every protocol of `protocols` within `scope` (which must outlive
// the protocols' threads: a given-up thread may still read it) on a thread
// of its own and returns
// their results in the same order. A protocol still running `grace` after
// `deadline` (stuck in a call to a daemon that stopped answering) is given
// up, and its thread left to end with the process: its result is what it
// had handed over, unfinished, or an error saying so when it never started
// searching.
std::vector<ProtocolResult> run_protocols(std::span<const Protocol* const> protocols,
                                          const SearchScope& scope,
                                          std::chrono::steady_clock::time_point deadline,
                                          std::chrono::milliseconds grace);

}  // namespace kxsane
