#include "registry/remove.h"

#include <string>
#include <vector>

#include "common/shell_command.h"
#include "registry/rewrite.h"

namespace kxsane {

Status remove_devices(const Paths& paths, const std::vector<std::string>& names) {
  // A name that holds a line break can match no line: it has no pass.
  std::vector<FilterPass> passes;
  for (const std::string& name : names) {
    if (name.find('\n') != std::string::npos)
      continue;
    passes.push_back(
        [name](const std::string& input) { return *remove_device_command(input, name); });
  }
  // With nothing to remove the file is not touched, not even rewritten.
  if (passes.empty())
    return Status::Ok();
  return change_registry(paths, [&](TempFile& temp) { return filter_config(paths, temp, passes); });
}

}  // namespace kxsane
