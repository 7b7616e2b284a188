#include "discovery/protocols.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kxsane {
namespace {

using Clock = std::chrono::steady_clock;

Status finds_one(Clock::time_point, std::vector<Sighting>* out) {
  out->push_back({"wsd", "a", "", "10.0.0.1", {}, "", ""});
  return Status::Ok();
}

Status cannot_run(Clock::time_point, std::vector<Sighting>*) {
  return Status::Failed("no daemon");
}

std::atomic<bool> release_stuck{false};

// A protocol blocked in a call that never returns in time.
Status stuck(Clock::time_point, std::vector<Sighting>* out) {
  while (!release_stuck) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  out->push_back({});
  return Status::Ok();
}

TEST(RunProtocols, ResultsInTableOrderAndAStuckProtocolIsGivenUp) {
  const Protocol kFinds{"a", "A", finds_one};
  const Protocol kFails{"b", "B", cannot_run};
  const Protocol kStuck{"c", "C", stuck};
  const struct {
    std::vector<const Protocol*> protocols;
    std::vector<std::string> errors;  // empty: ok
    std::vector<std::size_t> found;
  } kCases[] = {
      {{&kFinds, &kFails}, {"", "no daemon"}, {1, 0}},
      {{&kStuck}, {"C: no answer before the timeout"}, {0}},
  };
  for (const auto& c : kCases) {
    const auto results = run_protocols(c.protocols, Clock::now() + std::chrono::milliseconds(50),
                                       std::chrono::milliseconds(50));
    ASSERT_EQ(results.size(), c.protocols.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
      EXPECT_EQ(results[i].protocol, c.protocols[i]);
      EXPECT_EQ(results[i].status.message(), c.errors[i]);
      EXPECT_EQ(results[i].sightings.size(), c.found[i]);
    }
  }
  release_stuck = true;
}

}  // namespace
}  // namespace kxsane
