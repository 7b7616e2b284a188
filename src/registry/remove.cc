#include "registry/remove.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/shell_command.h"
#include "registry/rewrite.h"

namespace kxsane {

int remove_devices(const Paths& paths, char** argv, int argc) {
  std::unique_ptr<TempFile> temp = make_temp_file(paths.temp_template);
  const int make_errno = errno;

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

  if (!temp) {
    if (!passes.empty()) {
      report_unchanged(paths.device_config,
                       Status::Error(std::string("cannot create a temporary file: ") +
                                     std::strerror(make_errno)));
    }
    return -1;
  }
  if (passes.empty())
    return 0;

  const ConfigLock lock(paths.config_dir);
  const Status status = filter_config(paths, *temp, passes);
  if (!status.ok())
    report_unchanged(paths.device_config, status);
  return 0;
}

}  // namespace kxsane
