// The diagnosis report ("-d", "-D3").
#pragma once

#include "common/paths.h"
#include "models/model_table.h"
#include "registry/device_list.h"

namespace kxsane {

// Levels above this one are verbose: file contents, model details and the
// query report are added.
inline constexpr int kVerboseAbove = 2;

// Prints the probe commands and their output, the installed configuration
// and model files (with contents when verbose), the model details and the
// query report when verbose, then "ping" and the ping sweep. Standard output
// is flushed before every command. Returns 1.
int diagnosis_report(const Paths& paths, DeviceList& devices, ModelTable& models, int level);

// Prints one detail line per record of the table as it stands (see
// model_detail_line), in table order.
void print_model_details(const ModelTable& models);

// Prints a header for the device configuration file, Kxsane4.ini and every
// model description file of the models directory (in listing order), each
// followed by its content when verbose. Prints nothing when the models
// directory cannot be opened. Returns 0.
int dump_configuration_files(const Paths& paths, int level);

}  // namespace kxsane
