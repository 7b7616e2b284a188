#include "discovery/survey.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
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

bool is_word_char(unsigned char c) {
  return std::isalnum(c) != 0;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Whether `needle` occurs in `haystack` with no letter or digit right before
// or after it.
bool occurs_as_words(const std::string& haystack, const std::string& needle) {
  for (std::size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + 1)) {
    const std::size_t end = at + needle.size();
    if ((at == 0 || !is_word_char(haystack[at - 1])) &&
        (end == haystack.size() || !is_word_char(haystack[end])))
      return true;
  }
  return false;
}

// The rank of a service type: the known scanner types first, in their order.
std::size_t service_rank(const std::string& service) {
  const auto* begin = std::begin(kScannerServiceTypes);
  const auto* end = std::end(kScannerServiceTypes);
  return static_cast<std::size_t>(std::find(begin, end, service) - begin);
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

std::optional<std::string> match_model(const std::vector<std::string>& models,
                                       const std::vector<std::string>& texts,
                                       const std::string& words) {
  for (const std::string& text : texts) {
    if (text.empty())
      continue;
    if (std::find(models.begin(), models.end(), text) != models.end())
      return text;
  }
  const std::string haystack = lower(words);
  const std::string* best = nullptr;
  for (const std::string& model : models) {
    if (model.empty() || (best != nullptr && model.size() <= best->size()))
      continue;
    if (occurs_as_words(haystack, lower(model)))
      best = &model;
  }
  if (best == nullptr)
    return std::nullopt;
  return *best;
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
                                 const std::vector<RegisteredScanner>& registered) {
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

  std::vector<FoundScanner> found;
  for (auto& [numeric, group] : by_address) {
    std::stable_sort(group.begin(), group.end(), [](const Sighting* a, const Sighting* b) {
      return service_rank(a->service) < service_rank(b->service);
    });
    FoundScanner scanner;
    scanner.address = group.front()->address;
    std::vector<std::string> texts;
    std::string words;
    std::string instance;
    std::set<std::string> services;
    for (const Sighting* s : group) {
      texts.insert(texts.end(), s->model_texts.begin(), s->model_texts.end());
      words += s->model_words + "\n";
      if (instance.empty())
        instance = s->name;
      if (scanner.host.empty())
        scanner.host = s->host;
      if (scanner.announced.empty())
        scanner.announced = s->announced;
      if (services.insert(s->service).second)
        scanner.services.push_back(s->service);
    }
    scanner.model = match_model(models, texts, words);

    const auto registration = registered_index(by_registered_address, scanner.address);
    const auto by_node = registered_index(by_registered_node, node_of(scanner.host));
    if (registration || by_node) {
      const std::size_t index = registration ? *registration : *by_node;
      scanner.registered = true;
      scanner.name = registered[index].name;
      seen[index] = true;
    } else {
      const std::string base =
          friendly_name_from(instance.empty() ? node_of(scanner.host) : instance);
      scanner.name = unique_name(base.empty() ? "scanner" : base, taken);
      taken.insert(scanner.name);
    }
    found.push_back(std::move(scanner));
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
