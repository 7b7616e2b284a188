#include "discovery/watch.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <nlohmann/json.hpp>

#include "common/safe_file.h"
#include "common/text.h"
#include "discovery/report.h"
#include "discovery/survey.h"
#include "registry/device_list.h"
#include "registry/move.h"
#include "registry/registration.h"
#include "registry/rewrite.h"

namespace kxsane {

namespace {

// A state file larger than this is not one the watcher wrote.
constexpr std::size_t kMaxStateBytes = std::size_t{4} << 20;

std::uint32_t host_order(const std::string& dotted) {
  in_addr address{};
  inet_pton(AF_INET, dotted.c_str(), &address);
  return ntohl(address.s_addr);
}

// A message that ends with its line break, without one inside.
std::string one_line(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text + "\n";
}

}  // namespace

bool AppSequenceBook::is_fresh(const std::string& endpoint, const AppSequence& sequence) {
  if (!sequence.present)
    return true;
  AppSequence& last = last_[endpoint];
  const bool fresh = !last.present || sequence.instance > last.instance ||
                     (sequence.instance == last.instance &&
                      (sequence.sequence != last.sequence || sequence.number > last.number));
  if (fresh)
    last = sequence;
  return fresh;
}

Watcher::Watcher(WatchOptions options, Paths paths, const ModelTable& models,
                 std::vector<Ipv4Network> local, std::string state_file)
    : options_(std::move(options)),
      paths_(std::move(paths)),
      models_(models),
      model_texts_(kxsane::model_texts(models)),
      local_(std::move(local)),
      state_file_(std::move(state_file)) {}

std::string Watcher::refusal(const std::string& address) const {
  if (options_.allow.empty())
    return address_refusal(address, local_);
  const std::uint32_t numeric = host_order(address);
  const bool allowed =
      std::any_of(options_.allow.begin(), options_.allow.end(),
                  [&](const auto& n) { return (numeric & n.netmask) == (n.address & n.netmask); });
  if (!allowed)
    return "not in a network of --allow";
  if (std::string why = address_refusal(address, options_.allow); !why.empty())
    return why;
  for (const Ipv4Network& own : local_) {
    if (own.address == numeric)
      return "an address of this machine";
  }
  return "";
}

void Watcher::log(std::vector<std::string>& lines, const std::string& event,
                  const std::string& device, const std::string& line, WatchClock::time_point now) {
  const std::string key = event + " " + device;
  if (const WatchClock::time_point* last = last_logged_.find(key);
      last != nullptr && now - *last < kEventQuiet)
    return;
  last_logged_[key] = now;
  lines.push_back(one_line(line));
}

bool Watcher::may_register(WatchClock::time_point now) {
  std::erase_if(new_times_,
                [&](WatchClock::time_point t) { return now - t >= std::chrono::hours(1); });
  if (new_times_.size() < options_.max_new) {
    cap_reported_ = false;
    return true;
  }
  return false;
}

std::vector<std::string> Watcher::on_heard(const Heard& heard, WatchClock::time_point now) {
  std::vector<std::string> lines;
  const Sighting& sighting = heard.sighting;
  if (!is_valid_ipv4(sighting.address))
    return lines;
  Device& device = devices_[heard.identity];
  const std::string previous = device.address;
  device.last_heard = now;
  device.gone_reported = false;
  if (previous != sighting.address) {
    device.address = sighting.address;
    state_changed_ = true;
  }

  // The registry as it is now: an admin or another run may have changed it.
  DeviceList list(paths_.device_config);
  if (const Status loaded = list.load(); !loaded.ok() && !loaded.not_found()) {
    log(lines, "unreadable", paths_.device_config, "cannot read the registry: " + loaded.message(),
        now);
    return lines;
  }
  const std::vector<RegisteredScanner> registered = registered_scanners(list);
  const std::vector<Ipv4Network>& networks = options_.allow.empty() ? local_ : options_.allow;
  const std::vector<FoundScanner> found = survey({sighting}, model_texts_, registered, networks);
  const auto seen =
      std::find_if(found.begin(), found.end(), [](const FoundScanner& f) { return f.seen(); });
  if (seen == found.end())
    return lines;
  const FoundScanner& scanner = *seen;
  const std::string address = printable(sighting.address);
  const std::string model = scanner.model ? "\"" + printable(*scanner.model) + "\"" : "none";
  log(lines, "seen", heard.identity + " " + sighting.address,
      "seen " + address + " \"" + printable(sighting.announced) + "\" model " + model + " (" +
          printable(sighting.service) + ")",
      now);
  device.label = scanner.registered ? scanner.name : address;
  if (scanner.registered)
    return lines;

  // Seen before at the address a device is registered at: it moved.
  if (options_.follow && !previous.empty() && previous != sighting.address) {
    const auto moved = std::find_if(registered.begin(), registered.end(), [&](const auto& r) {
      return r.node.empty() && r.address == previous;
    });
    if (moved != registered.end()) {
      if (const std::string why = refusal(sighting.address); !why.empty()) {
        log(lines, "refused", heard.identity,
            "refused " + address + " (" + moved->name + " moved): " + why, now);
        return lines;
      }
      const Status status = move_device(paths_, moved->name, sighting.address);
      log(lines, "moved", heard.identity,
          status.ok() ? "moved " + moved->name + " from " + previous + " to " + address
                      : "not moved " + moved->name + " to " + address + ": " + status.message(),
          now);
      if (status.ok())
        device.label = moved->name;
      return lines;
    }
  }

  if (!options_.add || !scanner.model)
    return lines;
  if (!scanner.refused.empty() || !refusal(sighting.address).empty()) {
    const std::string why = !scanner.refused.empty() ? scanner.refused : refusal(sighting.address);
    log(lines, "refused", heard.identity, "refused " + address + ": " + why, now);
    return lines;
  }
  if (!may_register(now)) {
    if (!cap_reported_) {
      cap_reported_ = true;
      lines.push_back("new registrations stop for this hour: " + std::to_string(options_.max_new) +
                      " made (--max-new)\n");
    }
    return lines;
  }
  const NewDevice request{scanner.name, *scanner.model, sighting.address, ""};
  const AddOutcome outcome = register_devices(paths_, models_, {&request, 1}).front();
  if (outcome.status.ok()) {
    new_times_.push_back(now);
    device.label = scanner.name;
    log(lines, "registered", heard.identity,
        "registered " + scanner.name + " at " + address + " as \"" + printable(*scanner.model) +
            "\"",
        now);
  } else {
    log(lines, "not registered", heard.identity,
        "not registered " + scanner.name + " at " + address + ": " + outcome.status.message(), now);
  }
  return lines;
}

std::vector<std::string> Watcher::on_tick(WatchClock::time_point now) {
  std::vector<std::string> lines;
  const auto minutes = options_.gone_after.count();
  devices_.for_each([&](const std::string&, Device& device) {
    if (device.gone_reported || now - device.last_heard < options_.gone_after)
      return;
    device.gone_reported = true;
    lines.push_back(one_line("gone " + device.label + " at " + device.address +
                             ": not heard of for " + std::to_string(minutes) + " minutes"));
  });
  return lines;
}

Status Watcher::load_state() {
  if (state_file_.empty())
    return Status::Ok();
  Result<UniqueFd> fd = open_regular(state_file_);
  if (fd.status().not_found())
    return Status::Ok();
  if (!fd.ok())
    return fd.status();
  std::string text;
  char buffer[65536];
  for (ssize_t got; (got = ::read(fd->get(), buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > kMaxStateBytes)
      return Status::Failed(state_file_ + ": larger than a state file");
  }
  const nlohmann::json state = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!state.is_object() || !state.contains("identities") || !state["identities"].is_object())
    return Status::Failed(state_file_ + ": not a state file");
  const WatchClock::time_point now = WatchClock::now();
  for (const auto& [identity, address] : state["identities"].items()) {
    if (!address.is_string() || !is_valid_ipv4(address.get<std::string>()))
      continue;
    Device& device = devices_[identity];
    device.address = address.get<std::string>();
    device.label = device.address;
    device.last_heard = now;
  }
  return Status::Ok();
}

Status Watcher::save_state() {
  if (state_file_.empty() || !state_changed_)
    return Status::Ok();
  nlohmann::json identities = nlohmann::json::object();
  devices_.for_each([&](const std::string& identity, const Device& device) {
    if (!device.address.empty())
      identities[identity] = device.address;
  });
  const std::string text = nlohmann::json{{"identities", identities}}.dump(
                               -1, ' ', false, nlohmann::json::error_handler_t::replace) +
                           "\n";
  Status status = replace_file(state_file_, [&](int, int staging_fd) {
    return write_all(staging_fd, text.data(), text.size());
  });
  if (status.ok())
    state_changed_ = false;
  return status;
}

}  // namespace kxsane
