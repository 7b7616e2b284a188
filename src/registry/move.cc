#include "registry/move.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/safe_file.h"
#include "common/text.h"
#include "registry/device_list.h"
#include "registry/rewrite.h"

namespace kxsane {

namespace {

Result<std::string> read_all(int fd) {
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      return errno_error("reading the registry");
    if (got == 0)
      return content;
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

Status move_device(const Paths& paths, std::string_view name, std::string_view new_ip) {
  if (!is_valid_ipv4(new_ip))
    return Status::Refused("Invalid IP address (" + std::string(new_ip) + ")");
  return change_registry(paths, [&](TempFile&) {
    return replace_file(paths.device_config, [&](int old_fd, int staging_fd) -> Status {
      if (old_fd < 0)
        return Status::NotFound("no device is registered");
      Result<std::string> old = read_all(old_fd);
      if (!old.ok())
        return old.status();
      std::string out;
      out.reserve(old->size() + new_ip.size());
      bool moved = false;
      std::size_t at = 0;
      while (at < old->size()) {
        std::size_t end = old->find('\n', at);
        end = end == std::string::npos ? old->size() : end + 1;
        const std::string_view line = std::string_view(*old).substr(at, end - at);
        std::string fields[kDeviceFieldCount];
        if (!moved && line.size() <= 276 && read_device_line(line, fields) &&
            fields[kFriendlyName] == name && !fields[kIpAddress].empty()) {
          out += "DEVICE=" + fields[kFriendlyName] + " , " + fields[kModelName] + " , " +
                 fields[kUsbIds] + " , IP-ADDRESS=" + std::string(new_ip) + " \n";
          moved = true;
        } else {
          out += line;
        }
        at = end;
      }
      if (!moved)
        return Status::NotFound("\"" + std::string(name) + "\" is not registered by address");
      return write_all(staging_fd, out.data(), out.size());
    });
  });
}

}  // namespace kxsane
