// Registering network scanners: a typed request, the decision an add makes
// about it against the registry and the model table, and the one operation
// that registers a batch of them under the configuration lock. The add
// command ("-a") registers one; the finder's --add registers every new
// scanner it found.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/paths.h"
#include "common/status.h"
#include "models/model_table.h"
#include "registry/device_list.h"

namespace kxsane {

// The longest value of each kind that a registration keeps; longer ones are
// cut.
inline constexpr std::size_t kNewNameMax = 63;
inline constexpr std::size_t kNewModelMax = 61;  // before its two quotes
inline constexpr std::size_t kNewIpMax = 29;
inline constexpr std::size_t kNewNodeMax = 63;

// A scanner to register: its friendly name, its model as the user names it
// (without quotes), and where it is, an IPv4 address or a node name (the
// node name wins when both are given; the address is checked still).
struct NewDevice {
  std::string name;
  std::string model;
  std::string ip;
  std::string node;
};

// What became of one scanner of a registration.
struct AddOutcome {
  // Ok: registered. Refused: not registered because of what it asked; the
  // message is the add command's, with its line break ("Invalid name", "...
  // is already registered.", ...). Failed: not registered because the
  // registry could not be read or replaced; the message is the "Could not
  // update ..." line, with its line break.
  Status status = Status::Ok();
  // When registered: the device line written, with its line break.
  std::string line;
};

// The registry as an add decides against it: the device list read under the
// lock, and the names registered in front of it since it was read.
class RegistryState {
 public:
  explicit RegistryState(const DeviceList& list) : list_(list) {}

  // Whether an add of `name` finds it registered, as the add command looks
  // names up.
  bool holds(std::string_view name) const;
  // Notes that a device of this name was put at the top of the registry.
  void note_registered(std::string name) { added_.insert(std::move(name)); }

 private:
  const DeviceList& list_;
  std::unordered_set<std::string> added_;
};

// Decides one add, touching no file: Refused with the add command's message
// for, in this order, a friendly name that is not valid, a name that
// `registry` holds, no address (or only blanks), a node name that is not a
// plain host name, a model text that would read back as other fields, an IP
// address that is not valid. Otherwise Ok with the device line: the model
// between double quotes, its USB IDs "0x<vendor>:0x<product>" when `models`
// knows the quoted model as given, "Unknown" otherwise, and blanks removed
// from the model, the addresses and the IDs. Values are cut to their
// capacities first.
AddOutcome decide_add(const NewDevice& device, const RegistryState& registry,
                      const ModelTable& models);

// Registers `devices` in order under one hold of the configuration lock,
// each decided against the registry as it stands after the ones before it,
// and writes their lines at the top of the device configuration file in one
// failure-safe rewrite (the last registered on top, as one add after another
// would put them). `models` must have been read whole. One outcome per
// device, in order; when the registry cannot be read whole or replaced, every
// device not refused is Failed and the file is as it was.
std::vector<AddOutcome> register_devices(const Paths& paths, const ModelTable& models,
                                         std::span<const NewDevice> devices);

}  // namespace kxsane
