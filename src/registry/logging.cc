#include "registry/logging.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "common/shell_command.h"
#include "registry/rewrite.h"

namespace kxsane {

namespace {

// Makes the temporary file a logging command starts with; reports the file
// as unchanged when none can be made.
std::unique_ptr<TempFile> make_command_temp_file(const Paths& paths) {
  std::unique_ptr<TempFile> temp = make_temp_file(paths.temp_template);
  if (!temp) {
    report_unchanged(
        paths.device_config,
        Status::Error(std::string("cannot create a temporary file: ") + std::strerror(errno)));
  }
  return temp;
}

}  // namespace

int logging_on(const Paths& paths) {
  const std::unique_ptr<TempFile> temp = make_command_temp_file(paths);
  if (!temp)
    return -1;
  const ConfigLock lock(paths.config_dir);
  Status status = temp->write(kLoggingLine);
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
  const Status status = filter_config(paths, *temp, {logging_off_command});
  if (!status.ok())
    report_unchanged(paths.device_config, status);
  return 0;
}

}  // namespace kxsane
