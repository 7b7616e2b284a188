// The remove command ("-r").
#pragma once

#include <string>
#include <vector>

#include "common/paths.h"
#include "common/status.h"

namespace kxsane {

// The remove command: empties the line of every device in `names`, one pass
// per name over the output of the pass before, and replaces the device
// configuration file once with the result, under the configuration lock.
// Names are matched literally; a name holding a line break has no pass.
// With no pass the file is not touched (Ok). Failed, the file as it was, when
// it could not be changed.
Status remove_devices(const Paths& paths, const std::vector<std::string>& names);

}  // namespace kxsane
