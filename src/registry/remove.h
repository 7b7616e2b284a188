// The remove command ("-r").
#pragma once

#include "common/paths.h"

namespace kxsane {

// Handler of "-r": empties the line of every device named after the option,
// one pass per name over the output of the pass before, and replaces the
// device configuration file once with the result, under the configuration
// lock. Names are matched literally; a name holding a line break has no pass.
// With no pass the file is not touched. Prints nothing unless the file could
// not be changed, then one line that says so. Returns 0, or -1 when no
// temporary file can be made.
int remove_devices(const Paths& paths, char** argv, int argc);

}  // namespace kxsane
