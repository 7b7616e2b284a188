#include "registry/remove.h"

#include <memory>
#include <string>
#include <vector>

#include "common/shell_command.h"
#include "registry/rewrite.h"

namespace kxsane {

int remove_devices(const Paths& paths, char** argv, int argc) {
  // A name that holds a line break can match no line: it has no pass.
  std::vector<FilterPass> passes;
  for (int i = 2; i < argc; ++i) {
    const std::string name = argv[i];
    if (!remove_device_command("", name, ""))
      continue;
    passes.push_back([name](const std::string& input, const std::string& output) {
      return *remove_device_command(input, name, output);
    });
  }

  // With nothing to remove the file is not touched, not even rewritten, and
  // nothing is said; the result still tells whether a temporary file could
  // be made.
  if (passes.empty())
    return make_temp_file(paths.temp_template) ? 0 : -1;
  const std::unique_ptr<TempFile> temp = make_command_temp_file(paths);
  if (!temp)
    return -1;

  const ConfigLock lock(paths.config_dir);
  const Status status = filter_config(paths, *temp, passes);
  if (!status.ok())
    report_unchanged(paths.device_config, status);
  return 0;
}

}  // namespace kxsane
