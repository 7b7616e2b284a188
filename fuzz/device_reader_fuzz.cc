// Property: any device configuration text reads without overflow into
// records whose fields are at most 63 characters of non-blank bytes; every
// record equals what a plain, slow reading of the same text gives (pieces
// cut out of the text, commas expanded by inserting blanks, and a formatted
// scan that interprets the device form character by character); and a
// record written back in the tool's own line form reads back the same.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "../tests/support/device_line.h"
#include "common/text.h"
#include "registry/device_list.h"

namespace {

void check(bool condition) {
  if (!condition)
    std::abort();
}

constexpr std::size_t kPieceMax = 276;
using Fields = std::array<std::string, kxsane::kDeviceFieldCount>;

// The formatted scan of `line` with `form`: a blank in the form matches any
// run of blanks, "%s" skips blanks and takes the next run of non-blanks
// (kept truncated to 63 characters) into the next of `targets`, any other
// character must match. Stops at the first mismatch or at the end.
void scan_form(const std::string& line, std::string_view form, std::initializer_list<int> targets,
               Fields& fields) {
  std::size_t at = 0;
  const int* target = targets.begin();
  for (std::size_t f = 0; f < form.size(); ++f) {
    if (kxsane::is_scan_blank(form[f])) {
      while (at < line.size() && kxsane::is_scan_blank(line[at])) ++at;
    } else if (form.compare(f, 2, "%s") == 0) {
      ++f;
      while (at < line.size() && kxsane::is_scan_blank(line[at])) ++at;
      if (at == line.size())
        return;
      const std::size_t start = at;
      while (at < line.size() && !kxsane::is_scan_blank(line[at])) ++at;
      fields[static_cast<std::size_t>(*target++)] =
          line.substr(start, std::min<std::size_t>(at - start, kxsane::kDeviceFieldSize - 1));
    } else if (at < line.size() && line[at] == form[f]) {
      ++at;
    } else {
      return;
    }
  }
}

// One piece, read the slow way; true when it yields a record.
bool reference_parse(std::string line, Fields& fields) {
  const std::size_t read_length = line.size();
  int expanded = 0;
  for (std::size_t at = 0; expanded < 3 && at < read_length && at < line.size();) {
    if (line[at] == ',') {
      line.replace(at, 1, " , ");
      at += 3;
      ++expanded;
    } else {
      ++at;
    }
  }
  if (line.empty() || line[0] == '#' || line[0] == '[' || line[0] == '\n' ||
      line.find('=') == std::string::npos || line.starts_with("log="))
    return false;
  fields = {};
  using kxsane::kFriendlyName, kxsane::kModelName, kxsane::kUsbIds;
  if (line.find("IP-ADDRESS=") != std::string::npos) {
    scan_form(line, "DEVICE=%s , %s , %s , IP-ADDRESS=%s ",
              {kFriendlyName, kModelName, kUsbIds, kxsane::kIpAddress}, fields);
  } else if (line.find("NODENAME=") != std::string::npos) {
    scan_form(line, "DEVICE=%s , %s , %s , NODENAME=%s ",
              {kFriendlyName, kModelName, kUsbIds, kxsane::kNodeName}, fields);
  }
  return true;
}

// Every record the slow reading finds in `text`, in order: pieces of at
// most 276 characters, each ending after a line break, each seen up to its
// first NUL byte.
std::vector<Fields> reference_records(std::string_view text) {
  std::vector<Fields> records;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t line_break = text.find('\n', at);
    const std::size_t end = std::min(
        line_break == std::string_view::npos ? text.size() : line_break + 1, at + kPieceMax);
    std::string piece(text.substr(at, end - at));
    piece.resize(std::strlen(piece.c_str()));
    Fields fields;
    if (reference_parse(piece, fields))
      records.push_back(fields);
    at = end;
  }
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
  if (file == nullptr)
    return 0;
  kxsane::DeviceList devices("/nonexistent/kxsanenetdevice4.cfg");
  const kxsane::Result<int> read = devices.read_device_stream(file);
  std::fclose(file);
  check(read.ok());
  const int count = *read;
  check(count >= 0 && static_cast<std::size_t>(count) <= size);
  const std::vector<Fields> expected =
      reference_records({reinterpret_cast<const char*>(data), size});
  check(static_cast<std::size_t>(count) == expected.size());

  for (int i = 0; i < count; ++i) {
    char fields[kxsane::kDeviceFieldCount][kxsane::kDeviceFieldSize];
    for (int f = 0; f < kxsane::kDeviceFieldCount; ++f) {
      devices.device_field_by_index(i, f, fields[f], sizeof fields[f]);
      const std::size_t length = strnlen(fields[f], sizeof fields[f]);
      check(length < sizeof fields[f]);
      for (std::size_t k = 0; k < length; ++k) check(!kxsane::is_scan_blank(fields[f][k]));
      check(expected[static_cast<std::size_t>(i)][static_cast<std::size_t>(f)] == fields[f]);
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
