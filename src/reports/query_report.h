// The query report ("-q"): supported models, then the registered devices.
#pragma once

#include "models/model_table.h"
#include "registry/device_list.h"

namespace kxsane {

// Loads the model table (using it unchanged when it holds records), lists
// it numbered from 0, frees it, then prints "Devices on network" and one
// numbered line per device with its model and "N:" node name or "I:" IP
// address. Returns 1.
int query_report(DeviceList& devices, ModelTable& models);

}  // namespace kxsane
