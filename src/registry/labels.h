// Saved configurations ("-s:LABEL", "-l:LABEL").
#pragma once

#include <cstddef>

#include "common/paths.h"

namespace kxsane {

// Builds the label file path: the configuration directory, the label (the
// argument from its fourth character on) and ".kxsaneconfig4". Returns 1, or
// -1 when `size` is below 48, when the argument is shorter than three
// characters, when the label holds "/" (it would leave the directory), or when
// the path would not fit in `size` bytes; `dst` is then the empty string.
int label_path(const Paths& paths, const char* argument, char* dst, std::size_t size);

// Direction 0 saves the device configuration file to `path`, direction 1
// loads `path` into the device configuration file; each destination is
// replaced only by a complete copy, under the configuration lock. Returns 1,
// or 0 on any failure (the front end then prints "Invalid parameter"): an
// empty `path` (nothing is read or written), a missing device configuration
// file on save, a label file that cannot be read on load. A load that fails
// after the label file was found also prints the line that says the device
// configuration file was left unchanged.
int save_or_load(const Paths& paths, int direction, const char* path);

}  // namespace kxsane
