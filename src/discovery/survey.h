// What the finder makes of the sightings: one scanner per address, its model
// from the model table, whether and under which name it is registered, and a
// name for each new one.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "discovery/addresses.h"
#include "discovery/sighting.h"
#include "models/model_table.h"
#include "registry/device_list.h"

namespace kxsane {

// Friendly names the finder suggests are at most this long.
inline constexpr std::size_t kMaxSuggestedName = 32;

// The models of the table as -a matches them: the texts between the
// double quotes, in table order.
std::vector<std::string> model_texts(const ModelTable& models);

// The models of the table prepared for matching what scanners announce:
// lowercased once and indexed by their text and by the lengths they come in,
// so that a match costs time in proportion to the announced text (times the
// number of distinct model lengths), however many models the table holds.
// What it pays: bench/README.md (match_bench.sh).
class ModelMatcher {
 public:
  // Refers to `models`, which must outlive the matcher.
  explicit ModelMatcher(const std::vector<std::string>& models);
  ModelMatcher(const ModelMatcher&) = delete;
  ModelMatcher& operator=(const ModelMatcher&) = delete;

  // The model of the table a scanner announces: the first of `texts` that
  // names a model exactly; otherwise the longest model that occurs in
  // `words` as whole words (bounded by the ends or by characters other than
  // ASCII letters and digits), compared without regard to ASCII case, the
  // first in table order of equally long ones; none when neither.
  std::optional<std::string> match(const std::vector<std::string>& texts,
                                   const std::string& words) const;

 private:
  const std::vector<std::string>& models_;
  std::unordered_set<std::string_view> exact_;
  std::vector<std::string> folded_;  // lowercased, in table order
  std::unordered_map<std::string_view, std::size_t> first_of_folded_;
  // The distinct lengths of the folded models, longest first: of those that
  // start with a letter or digit, and of the others.
  std::vector<std::size_t> word_start_lengths_;
  std::vector<std::size_t> other_start_lengths_;
};

// `text` as a friendly name: letters, digits, "-" and "_" kept, every run of
// other bytes made one "_", cut to kMaxSuggestedName. Empty for empty text.
std::string friendly_name_from(const std::string& text);

// The first of `base`, `base-2`, `base-3`, ... (the base cut so that the
// whole stays within kMaxSuggestedName) that `taken` does not hold.
std::string unique_name(const std::string& base, const std::unordered_set<std::string>& taken);

// One scanner of the report. Texts from the network are as announced (not
// yet cleaned for printing).
struct FoundScanner {
  std::string name;  // the registered name, or the one suggested
  std::optional<std::string> model;
  std::string announced;
  std::string address;                // dotted IPv4; for a registered one not seen, as registered
  std::string host;                   // as announced; for a registered one not seen, its node name
  std::vector<std::string> services;  // empty: not seen
  bool registered = false;
  // Why no scanner can be at the address it was seen at (address_refusal);
  // empty when one can.
  std::string refused;

  bool seen() const { return !services.empty(); }
  // A scanner that -a should register.
  bool is_new() const { return !registered && model.has_value() && refused.empty(); }
};

// A registered scanner as the device configuration file holds it.
struct RegisteredScanner {
  std::string name;
  std::string model;  // without its double quotes
  std::string address;
  std::string node;
};

// Every record of `devices`.
std::vector<RegisteredScanner> registered_scanners(DeviceList& devices);

// Merges the sightings of one address into one scanner (sightings without
// an address are dropped), in address order; matches each against `models`,
// the model taken from the first protocol whose sightings name one, in the
// order DNS-SD, WS-Discovery, SNMP; drops one seen over SNMP only that names
// none;
// refuses one at an address no scanner can have on `networks` (the
// machine's own, local_networks()), which is never taken for a registered
// one; reports one found at a registered address or node name (the host
// name without ".local", without regard to case) under its registered name;
// names the others uniquely against the registry and each other, the refused
// ones last; then adds every registered scanner that was not seen, in file
// order.
std::vector<FoundScanner> survey(const std::vector<Sighting>& sightings,
                                 const std::vector<std::string>& models,
                                 const std::vector<RegisteredScanner>& registered,
                                 const std::vector<Ipv4Network>& networks);

}  // namespace kxsane
