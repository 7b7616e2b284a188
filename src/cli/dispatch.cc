#include "cli/dispatch.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/add_command.h"
#include "common/paths.h"
#include "common/signal_cleanup.h"
#include "models/model_table.h"
#include "registry/device_list.h"
#include "registry/labels.h"
#include "registry/logging.h"
#include "registry/remove.h"
#include "registry/rewrite.h"
#include "reports/diagnosis_report.h"
#include "reports/ping_sweep.h"
#include "reports/query_report.h"

namespace kxsane {

namespace {

// What one run works with; made by the front end and handed to the handler.
struct Context {
  Paths paths;
  DeviceList devices{paths.device_config};
  ModelTable models{paths.models_dir, paths.main_model_file};
  int argc = 0;
  char** argv = nullptr;
};

constexpr std::int32_t code_of(const char* option) {
  const auto c0 = static_cast<unsigned char>(option[0]);
  const auto c1 = static_cast<unsigned char>(option[1]);
  std::int32_t code = c0 * 256 + c1;
  if (option[2] != '\0')
    code = code * 256 + static_cast<unsigned char>(option[2]);
  return code;
}

// Says, once, why a change to the registry was not made.
void report_change(const Context& ctx, const Status& status) {
  if (!status.ok())
    std::fputs(unchanged_message(ctx.paths.device_config, status).c_str(), stdout);
}

// A load that found its label and could not replace the registry says so;
// every other failure is a wrong parameter.
void save_or_load_label(Context& ctx, LabelDirection direction) {
  const std::optional<std::string> path = label_path(ctx.paths, ctx.argv[1]);
  const Status status =
      path ? save_or_load(ctx.paths, direction, *path) : Status::Refused("no label file");
  if (direction == LabelDirection::kLoad && status.code() == Status::Code::kFailed) {
    report_change(ctx, status);
  } else if (!status.ok()) {
    std::printf("Invalid parameter\n");
  }
}

void remove_named(Context& ctx) {
  const std::vector<std::string> names(ctx.argv + std::min(ctx.argc, 2), ctx.argv + ctx.argc);
  report_change(ctx, remove_devices(ctx.paths, names));
}

// The reports read the registry as it is; one that exists but cannot be read
// would look like an empty one, so it is named on standard error.
DeviceList& readable_devices(Context& ctx) {
  if (const Status loaded = ctx.devices.load(); !loaded.ok() && !loaded.not_found())
    std::fprintf(stderr, "kxsaneconfig4: %s\n", loaded.message().c_str());
  return ctx.devices;
}

struct Command {
  const char* option;
  void (*handler)(Context&);
};

constexpr Command kCommands[] = {
    {"-a", [](Context& c) { add_device(c.paths, c.models, c.argv, c.argc); }},
    {"-r", remove_named},
    {"-q", [](Context& c) { query_report(readable_devices(c), c.models); }},
    {"-d", [](Context& c) { diagnosis_report(c.paths, c.devices, c.models, 0); }},
    {"-D3", [](Context& c) { diagnosis_report(c.paths, c.devices, c.models, 3); }},
    {"-p", [](Context& c) { ping_sweep(readable_devices(c)); }},
    {"-s:", [](Context& c) { save_or_load_label(c, LabelDirection::kSave); }},
    {"-l:", [](Context& c) { save_or_load_label(c, LabelDirection::kLoad); }},
    {"-LI", [](Context& c) { report_change(c, logging_on(c.paths)); }},
    {"-LO", [](Context& c) { report_change(c, logging_off(c.paths)); }},
    {"-i", [](Context&) {}},
    {"-h", [](Context&) { usage(); }},
    {"-H", [](Context&) { usage(); }},
    {"-?", [](Context&) { usage(); }},
};

constexpr const char* kUsageLines[] = {
    "   OPTION:",
    "       -a name=FRIENDLY-NAME model=MODEL-NAME ip=xx.xx.xx.xx    ",
    "       -a name=FRIENDLY-NAME model=MODEL-NAME nodename=KXN_xxxxx ",
    "                   : Add network scanner",
    "       -r FRIENDLY-NAME [FRIENDLY-NAME ...]",
    "                   : Remove network scanner",
    "       -q          : Query supported models and available network scanners",
    "       -d          : Diagnosis",
    "       -p          : Ping (for network scanners)  ",
    "       -s:[LABEL]  : Save current configuration",
    "       -l:[LABEL]  : Load saved configuration",
};

}  // namespace

std::int32_t option_code(int argc, char** argv) {
  if (argc < 2)
    return 0;
  const char* option = argv[1];
  if (option[0] == '\0' || option[1] == '\0')
    return -1;
  return code_of(option);
}

void usage() {
  std::printf("USAGE: kxsaneconfig%s [-OPTION]", "4");
  for (const char* line : kUsageLines) std::printf("%s\n", line);
}

int run_command(int argc, char** argv) {
  // Before any command can make a file or start a child.
  arm_signal_cleanup();
  const std::int32_t code = option_code(argc, argv);
  Context ctx;
  ctx.argc = argc;
  ctx.argv = argv;
  void (*handler)(Context&) = [](Context&) { usage(); };
  for (const Command& command : kCommands) {
    if (code_of(command.option) == code)
      handler = command.handler;
  }
  handler(ctx);
  std::fflush(stdout);
  return 0;
}

}  // namespace kxsane
