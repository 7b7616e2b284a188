#include "reports/ping_sweep.h"

#include <cstdio>

#include "common/process.h"
#include "common/shell_command.h"

namespace kxsane {

int ping_sweep(DeviceList& devices) {
  char target[kDeviceFieldSize];
  const int count = devices.device_count();
  for (int index = count - 1; index >= 0; --index) {
    devices.device_field_by_index(index, kFriendlyName, target, sizeof target);
    std::printf("test %s\n", target);
    if (devices.device_field_by_index(index, kNodeName, target, sizeof target) == nullptr) {
      devices.device_field_by_index(index, kIpAddress, target, sizeof target);
    }
    if (target[0] == '\0')
      continue;
    if (const auto command = ping_command(target)) {
      run_echoed(*command);
    } else {
      // Hand-edited addresses could hold shell syntax or ping options.
      std::printf("skipped: \"%s\" is not a plain host name or IPv4 address\n", target);
    }
  }
  return 1;
}

}  // namespace kxsane
