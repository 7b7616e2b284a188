#include "registry/logging.h"

#include <memory>
#include <string>

#include "common/shell_command.h"
#include "registry/rewrite.h"

namespace kxsane {

int logging_on(const Paths& paths) {
  const std::unique_ptr<TempFile> temp = make_command_temp_file(paths);
  if (!temp)
    return -1;
  const ConfigLock lock(paths.config_dir);
  Status status = lock.status();
  if (status.ok())
    status = temp->write(kLoggingLine);
  if (status.ok())
    status = prepend_to_config(paths, *temp);
  if (!status.ok())
    report_unchanged(paths.device_config, status);
  return 0;
}

int logging_off(const Paths& paths) {
  const std::unique_ptr<TempFile> temp = make_command_temp_file(paths);
  if (!temp)
    return -1;
  const ConfigLock lock(paths.config_dir);
  Status status = lock.status();
  if (status.ok())
    status = filter_config(paths, *temp, {logging_off_command});
  if (!status.ok())
    report_unchanged(paths.device_config, status);
  return 0;
}

}  // namespace kxsane
