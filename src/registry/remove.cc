#include "registry/remove.h"

#include <cstring>
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
    if (std::strchr(argv[i], '\n') != nullptr)
      continue;
    const std::string name = argv[i];
    passes.push_back(
        [name](const std::string& input) { return *remove_device_command(input, name); });
  }
  // With nothing to remove the file is not touched, not even rewritten, and
  // nothing is said.
  if (passes.empty())
    return 0;
  const std::unique_ptr<TempFile> temp = make_command_temp_file(paths);
  if (!temp)
    return -1;

  const ConfigLock lock(paths.config_dir);
  Status status = lock.status();
  if (status.ok())
    status = filter_config(paths, *temp, passes);
  if (!status.ok())
    report_unchanged(paths.device_config, status);
  return 0;
}

}  // namespace kxsane
