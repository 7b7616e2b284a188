// Following a registered scanner to a new address.
#pragma once

#include <string_view>

#include "common/paths.h"
#include "common/status.h"

namespace kxsane {

// Changes the IPv4 address of the first device registered by address under
// the friendly name `name` to `new_ip` (valid dotted IPv4), keeping its name,
// model and USB IDs, in one failure-safe rewrite under the configuration
// lock: the registry holds the old line or the new one, never neither.
// NotFound when no such device is registered; Refused for an address that is
// not valid; Failed, the file as it was, when it could not be changed.
Status move_device(const Paths& paths, std::string_view name, std::string_view new_ip);

}  // namespace kxsane
