// The logging switch ("-LI", "-LO").
#pragma once

#include "common/paths.h"
#include "common/status.h"

namespace kxsane {

// The logging line that "-LI" puts at the top of the device configuration
// file: 29 bytes with its line break.
inline constexpr char kLoggingLine[] = "log=/tmp/kx_sane.log , 1 , w\n";

// Both change the device configuration file under the configuration lock;
// Failed, the file as it was, when the change could not be made.

// "-LI": puts the logging line at the top; adjacent duplicate lines are
// merged.
Status logging_on(const Paths& paths);

// "-LO": removes every "log=" entry and what follows it on its line;
// adjacent duplicate lines are merged.
Status logging_off(const Paths& paths);

}  // namespace kxsane
