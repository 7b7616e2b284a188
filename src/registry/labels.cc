#include "registry/labels.h"

#include <cstring>
#include <string>

#include "common/safe_file.h"
#include "registry/rewrite.h"

namespace kxsane {

namespace {

// The size of the path for the empty label under the fixed configuration
// directory, its terminator included.
constexpr std::size_t kMinLabelPathSize = 48;

// The label starts after "-s:" or "-l:".
constexpr std::size_t kLabelOffset = 3;

}  // namespace

int label_path(const Paths& paths, const char* argument, char* dst, std::size_t size) {
  if (dst == nullptr || size == 0)
    return -1;
  dst[0] = '\0';
  if (size < kMinLabelPathSize || argument == nullptr ||
      ::strnlen(argument, kLabelOffset) < kLabelOffset) {
    return -1;
  }
  const std::string label = argument + kLabelOffset;
  // A "/" would lead out of the configuration directory.
  if (label.find('/') != std::string::npos)
    return -1;
  const std::string path = paths.config_dir + label + kLabelSuffix;
  if (path.size() >= size)
    return -1;
  std::memcpy(dst, path.c_str(), path.size() + 1);
  return 1;
}

int save_or_load(const Paths& paths, int direction, const char* path) {
  if (path == nullptr || path[0] == '\0' || (direction != 0 && direction != 1))
    return 0;
  const std::string label_file = path;
  const ConfigLock lock(paths.config_dir);
  if (!lock.status().ok()) {
    report_unchanged(direction == 0 ? label_file : paths.device_config, lock.status());
    return 0;
  }
  if (direction == 0) {
    const Status status = replace_file(label_file, [&](int, int staging_fd) {
      return copy_file(paths.device_config, staging_fd, /*missing_ok=*/false);
    });
    return status.ok() ? 1 : 0;
  }
  // A label that is missing, or no regular file, is a wrong parameter, not a
  // failed change. It is read through the descriptor opened here.
  UniqueFd label;
  if (!open_regular(label_file, label).ok())
    return 0;
  const Status status = replace_file(
      paths.device_config, [&](int, int staging_fd) { return copy_fd(label.get(), staging_fd); });
  if (!status.ok()) {
    report_unchanged(paths.device_config, status);
    return 0;
  }
  return 1;
}

}  // namespace kxsane
