// What the watcher (kxsanefind4 --watch) makes of what the LAN says, as it
// says it: a scanner seen, registered, refused, moved, gone. It acts only on
// a registry it reads afresh for every sighting (an admin or another tool
// may change it meanwhile), changes it only through the typed registration
// and the move under the lock, never removes a line, and keeps every table
// bounded. It prints nothing: each step returns the lines to log.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/paths.h"
#include "common/status.h"
#include "discovery/addresses.h"
#include "discovery/sighting.h"
#include "discovery/wsd_messages.h"
#include "models/model_table.h"

namespace kxsane {

using WatchClock = std::chrono::steady_clock;

// Every table the watcher keeps holds at most this many entries; the one
// heard of longest ago goes first.
inline constexpr std::size_t kMaxWatchEntries = 4096;

// The same event for the same device is logged at most once in this time.
inline constexpr std::chrono::seconds kEventQuiet{60};

struct WatchOptions {
  bool add = false;     // register new scanners of a matched model
  bool follow = false;  // change a registered scanner's address when it moves
  // Where it may register or follow to; empty: the machine's own networks.
  std::vector<Ipv4Network> allow;
  std::size_t max_new = 16;  // new registrations per hour
  std::chrono::minutes gone_after{60};
};

// One sighting as the watcher hears it, with the identity that stays with
// the device when its address changes: "dnssd:" and the announced host name,
// or "wsd:" and the endpoint address.
struct Heard {
  Sighting sighting;
  std::string identity;
};

// A key-to-value table of at most kMaxWatchEntries entries, which forgets
// the entry touched longest ago to make room.
template <typename Value>
class BoundedTable {
 public:
  // The entry for `key`, made (default value) when missing; touched.
  Value& operator[](const std::string& key);
  // The entry for `key` or nullptr; not touched.
  const Value* find(const std::string& key) const;
  template <typename Fn>
  void for_each(Fn fn) {
    for (auto& [key, value] : order_) fn(key, value);
  }
  std::size_t size() const { return index_.size(); }

 private:
  using Entry = std::pair<std::string, Value>;
  std::list<Entry> order_;  // most recently touched first
  std::unordered_map<std::string, typename std::list<Entry>::iterator> index_;
};

template <typename Value>
Value& BoundedTable<Value>::operator[](const std::string& key) {
  if (const auto found = index_.find(key); found != index_.end()) {
    order_.splice(order_.begin(), order_, found->second);
    return found->second->second;
  }
  if (index_.size() == kMaxWatchEntries) {
    index_.erase(order_.back().first);
    order_.pop_back();
  }
  order_.emplace_front(key, Value{});
  index_[key] = order_.begin();
  return order_.front().second;
}

template <typename Value>
const Value* BoundedTable<Value>::find(const std::string& key) const {
  const auto found = index_.find(key);
  return found == index_.end() ? nullptr : &found->second->second;
}

// The last AppSequence heard from each WS-Discovery endpoint, so that a
// message older than one already heard, or heard again, is dropped.
class AppSequenceBook {
 public:
  // True, and noted, when `sequence` comes after the last one noted for
  // `endpoint` (or there is none to compare: no AppSequence, another
  // SequenceId); false for a stale or repeated message.
  bool is_fresh(const std::string& endpoint, const AppSequence& sequence);

 private:
  BoundedTable<AppSequence> last_;
};

class Watcher {
 public:
  // `models` must have been read whole and stays alive; `local` are the
  // machine's networks; `state_file` keeps the identities seen across
  // restarts (empty: none kept).
  Watcher(WatchOptions options, Paths paths, const ModelTable& models,
          std::vector<Ipv4Network> local, std::string state_file);

  // Reads the state file; an error says why it was not used (the watcher
  // then starts with none).
  Status load_state();
  // Writes the identities seen, failure-safe, when they changed.
  Status save_state();

  // What a sighting at `now` leads to: registers or follows it when the
  // options say so; returns the lines to log (each with its line break).
  std::vector<std::string> on_heard(const Heard& heard, WatchClock::time_point now);
  // Reports, once, every device not heard of for the gone-after time.
  std::vector<std::string> on_tick(WatchClock::time_point now);

  // New registrations in the current hour.
  std::size_t registered_this_hour() const { return new_times_.size(); }

 private:
  struct Device {
    std::string address;  // where it was last heard of
    std::string label;    // for the log: its name or its address
    WatchClock::time_point last_heard{};
    bool gone_reported = false;
  };

  // Why the watcher must not register or follow to `address`; empty when it
  // may.
  std::string refusal(const std::string& address) const;
  // Adds `line` unless the same event for the same device was logged within
  // kEventQuiet.
  void log(std::vector<std::string>& lines, const std::string& event, const std::string& device,
           const std::string& line, WatchClock::time_point now);
  bool may_register(WatchClock::time_point now);

  WatchOptions options_;
  Paths paths_;
  const ModelTable& models_;
  std::vector<std::string> model_texts_;
  std::vector<Ipv4Network> local_;
  std::string state_file_;
  bool state_changed_ = false;
  BoundedTable<Device> devices_;                      // by identity
  BoundedTable<WatchClock::time_point> last_logged_;  // by event and device
  std::vector<WatchClock::time_point> new_times_;     // registrations in the last hour
  bool cap_reported_ = false;
};

}  // namespace kxsane
