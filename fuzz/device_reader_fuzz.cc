// Property: any device configuration text reads without overflow into
// records whose fields are at most 63 characters of non-blank bytes, and a
// record written back in the tool's own line form reads back the same.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "registry/device_list.h"

namespace {

void check(bool condition) {
  if (!condition)
    std::abort();
}

bool is_blank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
  if (file == nullptr)
    return 0;
  kxsane::DeviceList devices("/nonexistent/kxsanenetdevice4.cfg");
  const int count = devices.read_device_stream(file);
  std::fclose(file);
  check(count >= 0 && static_cast<std::size_t>(count) <= size);

  for (int i = 0; i < count; ++i) {
    char fields[kxsane::kDeviceFieldCount][kxsane::kDeviceFieldSize];
    for (int f = 0; f < kxsane::kDeviceFieldCount; ++f) {
      devices.device_field_by_index(i, f, fields[f], sizeof fields[f]);
      const std::size_t length = strnlen(fields[f], sizeof fields[f]);
      check(length < sizeof fields[f]);
      for (std::size_t k = 0; k < length; ++k) check(!is_blank(fields[f][k]));
    }
    // Only complete records whose fields hold no separator make a line that
    // must read back the same.
    const bool by_node = fields[kxsane::kNodeName][0] != '\0';
    const char* address = by_node ? fields[kxsane::kNodeName] : fields[kxsane::kIpAddress];
    bool complete = address[0] != '\0';
    for (const char* f : {static_cast<const char*>(fields[0]), static_cast<const char*>(fields[1]),
                          static_cast<const char*>(fields[4]), address}) {
      complete = complete && f[0] != '\0' && std::strchr(f, ',') == nullptr &&
                 std::strchr(f, '=') == nullptr;
    }
    if (!complete)
      continue;
    const std::string line = std::string("DEVICE=") + fields[0] + " , " + fields[1] + " , " +
                             fields[4] + (by_node ? " , NODENAME=" : " , IP-ADDRESS=") + address +
                             " \n";
    if (line.size() > 276)
      continue;  // would arrive in two pieces
    kxsane::DeviceRecord again;
    check(kxsane::parse_device_line(line, again));
    for (int f = 0; f < kxsane::kDeviceFieldCount; ++f) {
      check(std::strcmp(again.fields[f], fields[f]) == 0);
    }
  }
  return 0;
}
