#include "registry/registration.h"

#include <cstdint>
#include <cstdio>
#include <memory>

#include "common/text.h"
#include "registry/rewrite.h"

namespace kxsane {

namespace {

std::string cut(std::string_view text, std::size_t max) {
  return std::string(text.substr(0, max));
}

// "," and "=" separate the fields of a device line, and the reader takes a
// vertical tab (which whitespace removal keeps) for a blank, so a model text
// holding one would read back as other fields.
bool holds_field_separator(std::string_view text) {
  return text.find_first_of(",=\v") != std::string_view::npos;
}

// The USB ID text of the model: "0x<vendor>:0x<product>" when the model
// table knows the quoted model, "Unknown" otherwise.
std::string usb_ids_of(const ModelTable& models, const std::string& model) {
  const std::string quoted = "\"" + model + "\"";
  std::uint32_t vendor = 0;
  std::uint32_t product = 0;
  if (models.model_ids(quoted.c_str(), &vendor, &product) == 0)
    return "Unknown";
  char ids[32];
  std::snprintf(ids, sizeof ids, "0x%x:0x%x", vendor, product);
  return ids;
}

AddOutcome refused(std::string message) {
  return {Status::Refused(std::move(message)), {}};
}

}  // namespace

bool RegistryState::holds(std::string_view name) const {
  return added_.contains(std::string(name)) || list_.has_device_named(name, !added_.empty());
}

AddOutcome decide_add(const NewDevice& device, const RegistryState& registry,
                      const ModelTable& models) {
  const std::string name = cut(device.name, kNewNameMax);
  if (!is_valid_friendly_name(name))
    return refused("Invalid name\n");
  if (registry.holds(name))
    return refused("\"" + name + "\" is already registered.\n");

  // The model is looked up as given; blanks are removed from what is written.
  std::string model = cut(device.model, kNewModelMax);
  std::string usb_ids = usb_ids_of(models, model);
  std::string ip = cut(device.ip, kNewIpMax);
  std::string node = cut(device.node, kNewNodeMax);
  strip_whitespace(model);
  strip_whitespace(ip);
  strip_whitespace(node);
  strip_whitespace(usb_ids);

  // The address is checked after whitespace removal, so that one made only
  // of line breaks is refused as well; a node name that is not a plain host
  // name would write a line that reads back as other fields.
  if ((ip.empty() && node.empty()) || (!node.empty() && !is_plain_host(node)))
    return refused("Invalid IP address or NODENAME\n");
  if (holds_field_separator(model))
    return refused("Invalid model (" + model + ")\n");
  if (!ip.empty() && !is_valid_ipv4(ip))
    return refused("Invalid IP address (" + ip + ")\n");

  std::string line = "DEVICE=" + name + " , \"" + model + "\" , " + usb_ids + " , ";
  line += node.empty() ? "IP-ADDRESS=" + ip : "NODENAME=" + node;
  return {Status::Ok(), line + " \n"};
}

std::vector<AddOutcome> register_devices(const Paths& paths, const ModelTable& models,
                                         std::span<const NewDevice> devices) {
  std::vector<AddOutcome> outcomes(devices.size());
  const Status status = change_registry(paths, [&](TempFile& temp) {
    // Read whole under the lock: a registry read in part could let a name be
    // registered twice.
    DeviceList list(paths.device_config);
    Status loaded = list.load();
    if (!loaded.ok() && !loaded.not_found())
      return loaded;
    RegistryState registry(list);
    std::vector<const std::string*> written;
    for (std::size_t i = 0; i < devices.size(); ++i) {
      outcomes[i] = decide_add(devices[i], registry, models);
      if (!outcomes[i].status.ok())
        continue;
      registry.note_registered(cut(devices[i].name, kNewNameMax));
      written.push_back(&outcomes[i].line);
    }
    if (written.empty())
      return Status::Ok();
    // Each new line goes above the ones registered before it.
    std::string lines;
    for (auto line = written.rbegin(); line != written.rend(); ++line) lines += **line;
    Status wrote = temp.write(lines);
    if (wrote.ok())
      wrote = prepend_to_config(paths, temp);
    return wrote;
  });
  if (!status.ok()) {
    for (AddOutcome& outcome : outcomes) {
      if (!outcome.status.refused())
        outcome = {Status::Failed(unchanged_message(paths.device_config, status)), {}};
    }
  }
  return outcomes;
}

}  // namespace kxsane
