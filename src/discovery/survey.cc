#include "discovery/survey.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "common/text.h"
#include "discovery/dnssd.h"

namespace kxsane {

namespace {

bool is_name_char(unsigned char c) {
  return is_friendly_name_char(static_cast<char>(c));
}

// Letters and digits of ASCII only: what a whole word of a model is made of
// must not depend on the locale.
bool is_word_char(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The distinct values of `lengths`, longest first.
std::vector<std::size_t> longest_first(std::vector<std::size_t> lengths) {
  std::sort(lengths.begin(), lengths.end(), std::greater<>());
  lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
  return lengths;
}

// The order in which the protocols' sightings of one device give its model:
// DNS-SD (whose services are the service types), WS-Discovery, SNMP.
std::size_t protocol_rank(const std::string& service) {
  if (service == "wsd")
    return 1;
  return service == "snmp" ? 2 : 0;
}

// The rank of a sighting's service: by protocol, and among DNS-SD's the
// known scanner types first, in their order.
std::size_t service_rank(const std::string& service) {
  const auto* begin = std::begin(kScannerServiceTypes);
  const auto* end = std::end(kScannerServiceTypes);
  const auto type = static_cast<std::size_t>(std::find(begin, end, service) - begin);
  return protocol_rank(service) * (std::size(kScannerServiceTypes) + 1) + type;
}

// The model the first protocol of `group` (ordered by service_rank) that
// names one gives.
std::optional<std::string> first_match(const ModelMatcher& matcher,
                                       const std::vector<const Sighting*>& group) {
  for (std::size_t begin = 0; begin < group.size();) {
    const std::size_t protocol = protocol_rank(group[begin]->service);
    std::vector<std::string> texts;
    std::string words;
    std::size_t end = begin;
    for (; end < group.size() && protocol_rank(group[end]->service) == protocol; ++end) {
      texts.insert(texts.end(), group[end]->model_texts.begin(), group[end]->model_texts.end());
      words += group[end]->model_words + "\n";
    }
    if (auto model = matcher.match(texts, words))
      return model;
    begin = end;
  }
  return std::nullopt;
}

// The host name as a node name: without a trailing "." and ".local".
std::string node_of(std::string host) {
  if (!host.empty() && host.back() == '.')
    host.pop_back();
  constexpr std::string_view kLocal = ".local";
  if (host.size() > kLocal.size() && lower(host.substr(host.size() - kLocal.size())) == kLocal)
    host.resize(host.size() - kLocal.size());
  return lower(host);
}

std::uint32_t numeric_address(const std::string& dotted) {
  in_addr address{};
  inet_pton(AF_INET, dotted.c_str(), &address);
  return ntohl(address.s_addr);
}

std::optional<std::size_t> registered_index(
    const std::unordered_map<std::string, std::size_t>& index, const std::string& key) {
  const auto found = index.find(key);
  if (key.empty() || found == index.end())
    return std::nullopt;
  return found->second;
}

}  // namespace

std::vector<std::string> model_texts(const ModelTable& models) {
  std::vector<std::string> texts;
  texts.reserve(models.size());
  for (const ModelRecord& record : models.records()) {
    std::string_view name = record.name;
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
      name = name.substr(1, name.size() - 2);
    texts.emplace_back(name);
  }
  return texts;
}

ModelMatcher::ModelMatcher(const std::vector<std::string>& models) : models_(models) {
  folded_.reserve(models.size());
  std::vector<std::size_t> word_start, other_start;
  for (const std::string& model : models) {
    folded_.push_back(lower(model));
    if (model.empty())
      continue;
    exact_.insert(model);
    (is_word_char(model.front()) ? word_start : other_start).push_back(model.size());
  }
  for (std::size_t i = 0; i < folded_.size(); ++i) {
    if (!folded_[i].empty())
      first_of_folded_.emplace(folded_[i], i);
  }
  word_start_lengths_ = longest_first(std::move(word_start));
  other_start_lengths_ = longest_first(std::move(other_start));
}

std::optional<std::string> ModelMatcher::match(const std::vector<std::string>& texts,
                                               const std::string& words) const {
  for (const std::string& text : texts) {
    if (exact_.count(text) != 0)
      return text;
  }
  // An occurrence as whole words starts at the beginning or after a
  // character that is not a letter or digit, and ends likewise: only those
  // spans, of the lengths the table has, are looked up.
  const std::string haystack = lower(words);
  const std::string_view text = haystack;
  std::size_t best_length = 0;
  std::size_t best = folded_.size();
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (at > 0 && is_word_char(text[at - 1]))
      continue;
    const auto& lengths = is_word_char(text[at]) ? word_start_lengths_ : other_start_lengths_;
    for (const std::size_t length : lengths) {
      if (length < best_length)
        break;
      const std::size_t end = at + length;
      if (end > text.size() || (end < text.size() && is_word_char(text[end])))
        continue;
      const auto found = first_of_folded_.find(text.substr(at, length));
      if (found == first_of_folded_.end())
        continue;
      if (length > best_length || found->second < best) {
        best_length = length;
        best = found->second;
      }
      break;  // the shorter ones starting here lose to this one
    }
  }
  if (best == folded_.size())
    return std::nullopt;
  return models_[best];
}

std::string friendly_name_from(const std::string& text) {
  std::string name;
  bool in_run = false;  // of bytes that are not name characters
  for (const char c : text) {
    if (name.size() == kMaxSuggestedName)
      break;
    const bool keep = is_name_char(static_cast<unsigned char>(c));
    if (keep || !in_run)
      name += keep ? c : '_';
    in_run = !keep;
  }
  return name;
}

std::string unique_name(const std::string& base, const std::unordered_set<std::string>& taken) {
  std::string name = base.substr(0, kMaxSuggestedName);
  for (int n = 2; taken.count(name) != 0; ++n) {
    const std::string suffix = "-" + std::to_string(n);
    name = base.substr(0, kMaxSuggestedName - suffix.size()) + suffix;
  }
  return name;
}

std::vector<RegisteredScanner> registered_scanners(DeviceList& devices) {
  std::vector<RegisteredScanner> registered;
  const int count = devices.device_count();
  for (int i = 0; i < count; ++i) {
    std::string_view fields[kDeviceFieldCount];
    if (!devices.device_fields(i, fields))
      break;
    std::string_view model = fields[kModelName];
    if (model.size() >= 2 && model.front() == '"' && model.back() == '"')
      model = model.substr(1, model.size() - 2);
    registered.push_back({std::string(fields[kFriendlyName]), std::string(model),
                          std::string(fields[kIpAddress]), std::string(fields[kNodeName])});
  }
  return registered;
}

std::vector<FoundScanner> survey(const std::vector<Sighting>& sightings,
                                 const std::vector<std::string>& models,
                                 const std::vector<RegisteredScanner>& registered,
                                 const std::vector<Ipv4Network>& networks) {
  // The sightings of each address, the known service types first.
  std::map<std::uint32_t, std::vector<const Sighting*>> by_address;
  for (const Sighting& sighting : sightings) {
    if (is_valid_ipv4(sighting.address))
      by_address[numeric_address(sighting.address)].push_back(&sighting);
  }
  std::unordered_map<std::string, std::size_t> by_registered_address;
  std::unordered_map<std::string, std::size_t> by_registered_node;
  std::unordered_set<std::string> taken;
  for (std::size_t i = 0; i < registered.size(); ++i) {
    by_registered_address.emplace(registered[i].address, i);
    if (!registered[i].node.empty())
      by_registered_node.emplace(lower(registered[i].node), i);
    taken.insert(registered[i].name);
  }
  std::vector<bool> seen(registered.size(), false);
  const ModelMatcher matcher(models);

  std::vector<FoundScanner> found;
  std::vector<std::pair<std::size_t, std::string>> refused;  // index, base of its name
  for (auto& [numeric, group] : by_address) {
    std::stable_sort(group.begin(), group.end(), [](const Sighting* a, const Sighting* b) {
      return service_rank(a->service) < service_rank(b->service);
    });
    FoundScanner scanner;
    scanner.model = first_match(matcher, group);
    // A LAN has many SNMP agents (switches, servers): one is a scanner only
    // when it names a model of the table.
    const bool snmp_only = std::all_of(group.begin(), group.end(),
                                       [](const Sighting* s) { return s->service == "snmp"; });
    if (snmp_only && !scanner.model)
      continue;
    scanner.address = group.front()->address;
    std::string instance;
    std::set<std::string> services;
    for (const Sighting* s : group) {
      if (instance.empty())
        instance = s->name;
      if (scanner.host.empty())
        scanner.host = s->host;
      if (scanner.announced.empty())
        scanner.announced = s->announced;
      if (services.insert(s->service).second)
        scanner.services.push_back(s->service);
    }
    const std::string base =
        friendly_name_from(instance.empty() ? node_of(scanner.host) : instance);
    scanner.refused = address_refusal(scanner.address, networks);

    const auto registration = registered_index(by_registered_address, scanner.address);
    const auto by_node = registered_index(by_registered_node, node_of(scanner.host));
    if (!scanner.refused.empty()) {
      // Named once the others are, so that an announcement of an address no
      // scanner can have never takes the name a real one would get.
      refused.emplace_back(found.size(), base);
    } else if (registration || by_node) {
      const std::size_t index = registration ? *registration : *by_node;
      scanner.registered = true;
      scanner.name = registered[index].name;
      seen[index] = true;
    } else {
      scanner.name = unique_name(base.empty() ? "scanner" : base, taken);
      taken.insert(scanner.name);
    }
    found.push_back(std::move(scanner));
  }
  for (const auto& [index, base] : refused) {
    found[index].name = unique_name(base.empty() ? "scanner" : base, taken);
    taken.insert(found[index].name);
  }

  for (std::size_t i = 0; i < registered.size(); ++i) {
    if (seen[i])
      continue;
    FoundScanner scanner;
    scanner.name = registered[i].name;
    scanner.model = registered[i].model;
    scanner.address = registered[i].address;
    scanner.host = registered[i].node;
    scanner.registered = true;
    found.push_back(std::move(scanner));
  }
  return found;
}

}  // namespace kxsane
