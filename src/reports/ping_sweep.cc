#include "reports/ping_sweep.h"

#include <string>
#include <vector>

#include "common/shell_command.h"
#include "reports/probe_runner.h"

namespace kxsane {

int ping_sweep(DeviceList& devices) {
  char target[kDeviceFieldSize];
  const int count = devices.device_count();
  std::vector<ProbeBlock> blocks;
  blocks.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
  for (int index = count - 1; index >= 0; --index) {
    ProbeBlock& block = blocks.emplace_back();
    devices.device_field_by_index(index, kFriendlyName, target, sizeof target);
    block.heading = std::string("test ") + target + "\n";
    if (devices.device_field_by_index(index, kNodeName, target, sizeof target) == nullptr) {
      devices.device_field_by_index(index, kIpAddress, target, sizeof target);
    }
    if (target[0] == '\0')
      continue;
    if (auto command = ping_command(target)) {
      // The command is echoed as it is handed to the shell, line break and
      // all, and one more line break follows.
      block.heading += *command + "\n";
      block.command = std::move(*command);
    } else {
      // Hand-edited addresses could hold shell syntax or ping options.
      block.heading +=
          std::string("skipped: \"") + target + "\" is not a plain host name or IPv4 address\n";
    }
  }
  run_probe_blocks(blocks);
  return 1;
}

}  // namespace kxsane
