// One device configuration line read the way the device list reads its
// file, for tests and fuzz targets that hold single lines against what the
// list makes of them.
#pragma once

#include <cstdio>
#include <string>

#include "registry/device_list.h"

namespace kxsane {

struct DeviceRecord {
  // Each field as the list's accessors copy it: NUL-terminated, at most 63
  // characters.
  char fields[kDeviceFieldCount][kDeviceFieldSize] = {};
};

// Reads `line` as a whole device configuration file. True, with `record`
// filled from the first record, when it yields one; comments, section
// headers, empty lines, lines without "=" and the logging line yield none.
inline bool parse_device_line(const std::string& line, DeviceRecord& record) {
  std::string text = line;
  std::FILE* file = fmemopen(text.data(), text.size(), "r");
  if (file == nullptr)
    return false;
  DeviceList devices("/nonexistent/kxsanenetdevice4.cfg");
  const Result<int> count = devices.read_device_stream(file);
  std::fclose(file);
  if (!count.ok() || *count <= 0)
    return false;
  record = DeviceRecord{};
  for (int f = 0; f < kDeviceFieldCount; ++f)
    devices.device_field_by_index(0, f, record.fields[f], kDeviceFieldSize - 1);
  return true;
}

}  // namespace kxsane
