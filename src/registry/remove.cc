#include "registry/remove.h"

#include <cstring>
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
  return change_registry(paths, [&](TempFile& temp) { return filter_config(paths, temp, passes); });
}

}  // namespace kxsane
