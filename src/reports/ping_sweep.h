// The ping sweep ("-p"): every registered scanner pinged, last device first.
#pragma once

#include "registry/device_list.h"

namespace kxsane {

// For each device from the last to the first: prints "test <name>", then
// pings its node name or, failing that, its IP address with
// "ping <target> -w 10" through run_echoed. A target that is not a plain host
// name or IPv4 address is never handed to the shell: a line says the device
// was skipped. Returns 1.
int ping_sweep(DeviceList& devices);

}  // namespace kxsane
