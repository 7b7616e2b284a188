// Saved configurations ("-s:LABEL", "-l:LABEL").
#pragma once

#include <cstddef>

#include "common/paths.h"

namespace kxsane {

// Builds the label file path: the configuration directory, the label (the
// argument from its fourth character on) and ".kxsaneconfig4". Returns 1, or
// -1 when `size` is below 48, when the label holds "/", or when the path
// would not fit in `size` bytes; `dst` is then the empty string.
int label_path(const Paths& paths, const char* argument, char* dst, std::size_t size);

// Direction 0 saves the device configuration file to `path`, direction 1
// loads `path` into the device configuration file; each destination is
// replaced only by a complete copy. Returns 1, or 0 on any failure (the
// front end then prints "Invalid parameter"), including an empty `path`.
int save_or_load(const Paths& paths, int direction, const char* path);

}  // namespace kxsane
