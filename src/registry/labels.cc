#include "registry/labels.h"

#include <cstring>
#include <string>
#include <string_view>

#include "common/safe_file.h"
#include "registry/rewrite.h"

namespace kxsane {

namespace {

// The label starts after "-s:" or "-l:".
constexpr std::size_t kLabelOffset = 3;

}  // namespace

std::optional<std::string> label_path(const Paths& paths, const char* argument) {
  if (argument == nullptr || ::strnlen(argument, kLabelOffset) < kLabelOffset)
    return std::nullopt;
  const std::string_view label = argument + kLabelOffset;
  if (label.find('/') != std::string_view::npos)
    return std::nullopt;
  std::string path = paths.config_dir;
  path.append(label).append(kLabelSuffix);
  if (path.size() > kMaxLabelPath)
    return std::nullopt;
  return path;
}

Status save_or_load(const Paths& paths, LabelDirection direction, const std::string& label_file) {
  if (label_file.empty())
    return Status::Refused("no label file");
  if (direction == LabelDirection::kSave) {
    Result<ConfigLock> lock = ConfigLock::take(paths.config_dir);
    if (!lock.ok())
      return lock.status();
    return replace_file(label_file, [&](int, int staging_fd) {
      return copy_file(paths.device_config, staging_fd, /*missing_ok=*/false);
    });
  }
  return change_registry(paths, [&](TempFile&) {
    // A label that is missing, or no regular file, is a wrong parameter, not
    // a failed change. It is read through the descriptor opened here.
    Result<UniqueFd> label = open_regular(label_file);
    if (!label.ok())
      return Status::Refused(label.status().message());
    return replace_file(paths.device_config,
                        [&](int, int staging_fd) { return copy_fd(label->get(), staging_fd); });
  });
}

}  // namespace kxsane
