#include "cli/dispatch.h"

#include <cstdio>
#include <optional>
#include <string>

#include "common/paths.h"
#include "common/signal_cleanup.h"
#include "models/model_table.h"
#include "registry/add_device.h"
#include "registry/device_list.h"
#include "registry/labels.h"
#include "registry/logging.h"
#include "registry/remove.h"
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

void save_or_load_label(Context& ctx, LabelDirection direction) {
  const std::optional<std::string> path = label_path(ctx.paths, ctx.argv[1]);
  if (!path || !save_or_load(ctx.paths, direction, *path).ok())
    std::printf("Invalid parameter\n");
}

struct Command {
  const char* option;
  void (*handler)(Context&);
};

constexpr Command kCommands[] = {
    {"-a", [](Context& c) { add_device(c.paths, c.devices, c.models, c.argv, c.argc); }},
    {"-r", [](Context& c) { remove_devices(c.paths, c.argv, c.argc); }},
    {"-q", [](Context& c) { query_report(c.devices, c.models); }},
    {"-d", [](Context& c) { diagnosis_report(c.paths, c.devices, c.models, 0); }},
    {"-D3", [](Context& c) { diagnosis_report(c.paths, c.devices, c.models, 3); }},
    {"-p", [](Context& c) { ping_sweep(c.devices); }},
    {"-s:", [](Context& c) { save_or_load_label(c, LabelDirection::kSave); }},
    {"-l:", [](Context& c) { save_or_load_label(c, LabelDirection::kLoad); }},
    {"-LI", [](Context& c) { logging_on(c.paths); }},
    {"-LO", [](Context& c) { logging_off(c.paths); }},
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
