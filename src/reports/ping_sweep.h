// The ping sweep ("-p"): every registered scanner pinged, last device first.
#pragma once

#include "registry/device_list.h"

namespace kxsane {

// For each device from the last to the first: prints "test <name>", then
// pings its node name or, failing that, its IP address with
// "ping <target> -w 10", echoing the command as run_echoed does. A target
// that is not a plain host name or IPv4 address is never handed to the
// shell: a line says the device was skipped. The pings run side by side
// (see run_probe_blocks), and the output is byte for byte that of pinging
// one device after the other. Returns 1.
int ping_sweep(DeviceList& devices);

}  // namespace kxsane
