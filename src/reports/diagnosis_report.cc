#include "reports/diagnosis_report.h"

#include <dirent.h>

#include <cstdio>
#include <string>

#include "common/process.h"
#include "common/shell_command.h"
#include "reports/ping_sweep.h"
#include "reports/query_report.h"

namespace kxsane {

namespace {

constexpr char kSeparator[] = "-----------------------------\n";

bool is_verbose(int level) {
  return level > kVerboseAbove;
}

// A file's header line; when verbose, its content follows through the shell
// (the command itself is not echoed: the header already names the file).
void dump_file(const std::string& shown_path, const std::string& cat, bool verbose) {
  std::printf("%s%s:\n", kSeparator, shown_path.c_str());
  if (verbose)
    run_shell(cat);
}

}  // namespace

int diagnosis_report(const Paths& paths, DeviceList& devices, ModelTable& models, int level) {
  const bool verbose = is_verbose(level);
  std::fputs(kSeparator, stdout);
  std::fflush(stdout);
  for (const char* command : kProbeCommands) {
    run_echoed(command);
    std::fputs(kSeparator, stdout);
    std::fflush(stdout);
  }
  dump_configuration_files(paths, level);
  std::fputs(kSeparator, stdout);
  models.load_model_table();
  if (verbose)
    models.print_model_details();
  std::fputs(kSeparator, stdout);
  // The query report finds the table loaded above and lists exactly it.
  if (verbose)
    query_report(devices, models);
  std::fputs("ping\n", stdout);
  ping_sweep(devices);
  return 1;
}

int dump_configuration_files(const Paths& paths, int level) {
  DIR* dir = opendir(paths.models_dir.c_str());
  if (dir == nullptr)
    return 0;
  const bool verbose = is_verbose(level);
  dump_file(paths.device_config, cat_command(paths.device_config), verbose);
  dump_file(paths.main_model_file, cat_command(paths.main_model_file), verbose);
  while (const dirent* entry = readdir(dir)) {
    if (is_model_file_name(entry->d_name) != 0)
      continue;
    // The name is printed as it stands; the command quotes it where needed.
    dump_file(paths.models_dir + "/" + entry->d_name,
              cat_entry_command(paths.models_dir, entry->d_name), verbose);
  }
  closedir(dir);
  return 0;
}

}  // namespace kxsane
