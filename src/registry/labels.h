// Saved configurations ("-s:LABEL", "-l:LABEL").
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "common/paths.h"
#include "common/status.h"

namespace kxsane {

// The longest label file path: the front end's path buffer is 512 bytes.
inline constexpr std::size_t kMaxLabelPath = 511;

// The label file path: the configuration directory, the label (the argument
// from its fourth character on) and ".kxsaneconfig4". None when the argument
// is shorter than three characters, when the label holds "/" (it would leave
// the directory), or when the path would be longer than kMaxLabelPath.
std::optional<std::string> label_path(const Paths& paths, const char* argument);

enum class LabelDirection { kSave, kLoad };

// Save copies the device configuration file to `label_file`, load copies
// `label_file` into the device configuration file; each destination is
// replaced only by a complete copy, under the configuration lock (a load
// through the frame of every registry change). Refused for an empty
// `label_file` (nothing is read or written) and, on load, for a label file
// that cannot be read; on save, NotFound or Failed when the device
// configuration file cannot be copied. On load, Failed means the label was
// found and the device configuration file was left as it was.
Status save_or_load(const Paths& paths, LabelDirection direction, const std::string& label_file);

}  // namespace kxsane
