#include "discovery/protocols.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kxsane {
namespace {

using Clock = std::chrono::steady_clock;

Status finds_one(const SearchScope&, Clock::time_point, Findings& out) {
  out.searching();
  out.add({"wsd", "a", "", "10.0.0.1", {}, "", ""});
  return Status::Ok();
}

Status cannot_run(const SearchScope&, Clock::time_point, Findings&) {
  return Status::Failed("no daemon");
}

std::atomic<bool> release_stuck{false};

void block() {
  while (!release_stuck) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// Protocols blocked in a call that never returns in time: before they could
// search, and after handing over one sighting.
Status stuck(const SearchScope&, Clock::time_point, Findings& out) {
  block();
  out.add({});
  return Status::Ok();
}

Status stuck_searching(const SearchScope& scope, Clock::time_point deadline, Findings& out) {
  out.unfinished("the daemon stopped answering");
  finds_one(scope, deadline, out);
  block();
  return Status::Ok();
}

// Outlives the threads left stuck.
const SearchScope kScope;

TEST(RunProtocols, ResultsInTableOrderAndAStuckProtocolKeepsWhatItFound) {
  const Protocol kFinds{"a", "A", finds_one};
  const Protocol kFails{"b", "B", cannot_run};
  const Protocol kStuck{"c", "C", stuck};
  const Protocol kStuckSearching{"d", "D", stuck_searching};
  const struct {
    std::vector<const Protocol*> protocols;
    std::vector<std::string> errors;  // empty: ok
    std::vector<std::string> unfinished;
    std::vector<std::size_t> found;
  } kCases[] = {
      {{&kFinds, &kFails}, {"", "no daemon"}, {"", ""}, {1, 0}},
      {{&kStuck, &kStuckSearching},
       {"C: no answer before the timeout", ""},
       {"", "the daemon stopped answering"},
       {0, 1}},
  };
  for (const auto& c : kCases) {
    const auto results =
        run_protocols(c.protocols, kScope, Clock::now() + std::chrono::milliseconds(50),
                      std::chrono::milliseconds(50));
    ASSERT_EQ(results.size(), c.protocols.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
      SCOPED_TRACE(c.protocols[i]->key);
      EXPECT_EQ(results[i].protocol, c.protocols[i]);
      EXPECT_EQ(results[i].status.message(), c.errors[i]);
      EXPECT_EQ(results[i].unfinished, c.unfinished[i]);
      EXPECT_EQ(results[i].sightings.size(), c.found[i]);
    }
  }
  release_stuck = true;
}

}  // namespace
}  // namespace kxsane
