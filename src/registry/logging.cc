#include "registry/logging.h"

#include "common/shell_command.h"
#include "registry/rewrite.h"

namespace kxsane {

Status logging_on(const Paths& paths) {
  return change_registry(paths, [&](TempFile& temp) {
    Status status = temp.write(kLoggingLine);
    if (status.ok())
      status = prepend_to_config(paths, temp);
    return status;
  });
}

Status logging_off(const Paths& paths) {
  return change_registry(
      paths, [&](TempFile& temp) { return filter_config(paths, temp, {logging_off_command}); });
}

}  // namespace kxsane
