#include "reports/ping_sweep.h"

#include <string>
#include <vector>

#include "common/shell_command.h"
#include "reports/probe_runner.h"

namespace kxsane {

int ping_sweep(DeviceList& devices) {
  char target[kDeviceFieldSize];
  // Devices that get no ping add their lines to the heading of the next
  // block; the last block holds what follows the last ping.
  std::vector<ProbeBlock> blocks(1);
  for (int index = devices.device_count() - 1; index >= 0; --index) {
    std::string& heading = blocks.back().heading;
    devices.device_field_by_index(index, kFriendlyName, target, sizeof target);
    heading.append("test ").append(target).append("\n");
    if (devices.device_field_by_index(index, kNodeName, target, sizeof target) == nullptr) {
      devices.device_field_by_index(index, kIpAddress, target, sizeof target);
    }
    if (target[0] == '\0')
      continue;
    if (auto command = ping_command(target)) {
      // The command is echoed as it is handed to the shell, line break and
      // all, and one more line break follows.
      heading.append(*command).append("\n");
      blocks.back().command = std::move(*command);
      blocks.emplace_back();
    } else {
      // Hand-edited addresses could hold shell syntax or ping options.
      heading.append("skipped: \"")
          .append(target)
          .append("\" is not a plain host name or IPv4 address\n");
    }
  }
  run_probe_blocks(blocks);
  return 1;
}

}  // namespace kxsane
