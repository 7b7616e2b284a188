// The logging switch ("-LI", "-LO").
#pragma once

#include "common/paths.h"

namespace kxsane {

// The logging line that "-LI" puts at the top of the device configuration
// file: 29 bytes with its line break.
inline constexpr char kLoggingLine[] = "log=/tmp/kx_sane.log , 1 , w\n";

// Both change the device configuration file under the configuration lock and
// print nothing, unless the change could not be made: then the file is as it
// was and one line says so.

// Handler of "-LI": puts the logging line at the top; adjacent duplicate
// lines are merged. Returns 0, or -1 when no temporary file can be made.
int logging_on(const Paths& paths);

// Handler of "-LO": removes every "log=" entry and what follows it on its
// line; adjacent duplicate lines are merged. Returns 0, or -1 when no
// temporary file can be made.
int logging_off(const Paths& paths);

}  // namespace kxsane
