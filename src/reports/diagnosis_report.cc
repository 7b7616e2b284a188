#include "reports/diagnosis_report.h"

#include <dirent.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "common/closers.h"
#include "common/process.h"
#include "common/safe_file.h"
#include "common/shell_command.h"
#include "reports/ping_sweep.h"
#include "reports/query_report.h"

namespace kxsane {

namespace {

constexpr char kSeparator[] = "-----------------------------\n";

bool is_verbose(int level) {
  return level > kVerboseAbove;
}

// A file's header line; when verbose, its content follows, as `cat` would
// show it. Only a regular file reached through trusted links is shown: a
// FIFO or a device could block the report, or never end. A file that is not
// shown, or shown in part, is named on standard error with the reason.
void dump_file(const std::string& path, bool verbose) {
  std::printf("%s%s:\n", kSeparator, path.c_str());
  if (!verbose)
    return;
  std::fflush(stdout);
  const Result<UniqueFd> fd = open_regular(path);
  Status status = fd.status();
  if (fd.ok())
    status = copy_fd(fd->get(), STDOUT_FILENO).with_prefix(path + ": ");
  if (!status.ok())
    std::fprintf(stderr, "cat: %s\n", status.message().c_str());
}

}  // namespace

int diagnosis_report(const Paths& paths, DeviceList& devices, ModelTable& models, int level) {
  const bool verbose = is_verbose(level);
  std::fputs(kSeparator, stdout);
  std::fflush(stdout);
  for (const char* command : kProbeCommands) {
    if (const Result<int> ran = run_echoed(command); !ran.ok())
      std::fprintf(stderr, "%s\n", ran.status().message().c_str());
    std::fputs(kSeparator, stdout);
    std::fflush(stdout);
  }
  dump_configuration_files(paths, level);
  std::fputs(kSeparator, stdout);
  models.load_model_table();
  if (verbose)
    print_model_details(models);
  std::fputs(kSeparator, stdout);
  // The query report finds the table loaded above and lists exactly it.
  if (verbose)
    query_report(devices, models);
  std::fputs("ping\n", stdout);
  ping_sweep(devices);
  return 1;
}

void print_model_details(const ModelTable& models) {
  for (const ModelRecord& record : models.records())
    std::fputs(model_detail_line(record).c_str(), stdout);
}

int dump_configuration_files(const Paths& paths, int level) {
  const UniqueDir dir{opendir(paths.models_dir.c_str())};
  if (!dir)
    return 0;
  const bool verbose = is_verbose(level);
  dump_file(paths.device_config, verbose);
  dump_file(paths.main_model_file, verbose);
  while (const dirent* entry = readdir(dir.get())) {
    if (!is_model_file_name(entry->d_name))
      continue;
    dump_file(paths.models_dir + "/" + entry->d_name, verbose);
  }
  return 0;
}

}  // namespace kxsane
