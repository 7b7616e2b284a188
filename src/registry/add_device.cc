#include "registry/add_device.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common/text.h"
#include "registry/rewrite.h"

namespace kxsane {

namespace {

// Capacities of the working values, terminator included.
constexpr std::size_t kNameSize = 64;
constexpr std::size_t kModelSize = 64;          // the model between its two quotes
constexpr std::size_t kModelTextSize = 64 - 2;  // at most 61 characters before quoting
constexpr std::size_t kIpSize = 30;
constexpr std::size_t kNodeSize = 64;
constexpr std::size_t kUsbIdSize = 32;
// The scratch buffer the registered-name lookup copies into.
constexpr std::size_t kLookupSize = 200;

// Fewer arguments than the program name, the option and three values.
constexpr int kMinArgc = 5;

bool is_name_char(char c) {
  return is_ascii_alnum(c) || c == '-' || c == '_';
}

// "," and "=" separate the fields of a device line, and the reader takes a
// vertical tab (which whitespace removal keeps) for a blank, so a model text
// holding one would read back as other fields.
bool holds_field_separator(const char* text) {
  return std::strpbrk(text, ",=\v") != nullptr;
}

}  // namespace

std::optional<std::string> device_line_for(const char* name, const char* model_text,
                                           const char* usb_ids, const char* ip, const char* node,
                                           std::string& refusal) {
  // Values that would write a line with no address, or one that reads back
  // with other fields, are refused before anything is written.
  if ((ip[0] == '\0' && node[0] == '\0') || (node[0] != '\0' && !is_plain_host(node))) {
    refusal = "Invalid IP address or NODENAME\n";
    return std::nullopt;
  }
  if (holds_field_separator(model_text)) {
    refusal = std::string("Invalid model (") + model_text + ")\n";
    return std::nullopt;
  }
  if (ip[0] != '\0' && !is_valid_ipv4(ip)) {
    refusal = std::string("Invalid IP address (") + ip + ")\n";
    return std::nullopt;
  }
  std::string line =
      std::string("DEVICE=") + name + " , \"" + model_text + "\" , " + usb_ids + " , ";
  if (node[0] != '\0') {
    line += std::string("NODENAME=") + node + " ";
  } else {
    line += std::string("IP-ADDRESS=") + ip + " ";
  }
  return line + "\n";
}

namespace {

// The values of "-a", each within its capacity.
struct NewDevice {
  char name[kNameSize] = {};
  char model_text[kModelTextSize] = {};
  char ip[kIpSize] = {};
  char node[kNodeSize] = {};
  char usb_ids[kUsbIdSize] = {};
};

void read_new_device(char** argv, int argc, NewDevice& device) {
  get_key_value(argv, argc, "name=", device.name, sizeof device.name);
  get_key_value(argv, argc, "model=", device.model_text, sizeof device.model_text);
  get_key_value(argv, argc, "ip=", device.ip, sizeof device.ip);
  get_key_value(argv, argc, "nodename=", device.node, sizeof device.node);
}

// The USB ID text of the model: "0x<vendor>:0x<product>" when the model
// table knows the quoted model, "Unknown" otherwise.
void find_usb_ids(const ModelTable& models, NewDevice& device) {
  char quoted_model[kModelSize];
  std::snprintf(quoted_model, sizeof quoted_model, "\"%s\"", device.model_text);
  std::uint32_t vendor = 0;
  std::uint32_t product = 0;
  if (models.model_ids(quoted_model, &vendor, &product)) {
    std::snprintf(device.usb_ids, sizeof device.usb_ids, "0x%x:0x%x", vendor, product);
  } else {
    std::snprintf(device.usb_ids, sizeof device.usb_ids, "Unknown");
  }
}

// Reads the registry afresh, whole: one read in part could let a name be
// registered twice.
Status load_registry(DeviceList& devices) {
  devices.free_device_list();
  devices.load_device_list();
  return devices.load_status();
}

}  // namespace

int add_device(const Paths& paths, DeviceList& devices, ModelTable& models, char** argv, int argc) {
  if (argc < kMinArgc) {
    std::printf("Invalid parameter %d\n", 0);
    return 0;
  }
  NewDevice device;
  read_new_device(argv, argc, device);
  if (!is_valid_friendly_name(device.name)) {
    std::printf("Invalid name\n");
    return 0;
  }

  // The tool never changes the model files: they are read before the lock,
  // which concurrent runs wait for.
  models.load_model_table();
  // Held from the read of the registry to its replacement, so that two
  // concurrent runs never both find a name free, nor overwrite each other.
  const ConfigLock lock(paths.config_dir);
  Status status = lock.status();
  if (status.ok())
    status = load_registry(devices);
  if (!status.ok()) {
    report_unchanged(paths.device_config, status);
    return 0;
  }
  char scratch[kLookupSize];
  if (devices.device_field_by_name(device.name, kFriendlyName, scratch, sizeof scratch)) {
    std::printf("\"%s\" is already registered.\n", device.name);
    return 0;
  }
  // A model table read in part could register a known model as unknown.
  if (!models.load_status().ok()) {
    report_unchanged(paths.device_config, models.load_status());
    return 0;
  }

  find_usb_ids(models, device);
  strip_whitespace(device.model_text);
  strip_whitespace(device.ip);
  strip_whitespace(device.node);
  strip_whitespace(device.usb_ids);
  // The address is checked after whitespace removal, so that one made only
  // of line breaks is refused as well.
  std::string refusal;
  const std::optional<std::string> line = device_line_for(
      device.name, device.model_text, device.usb_ids, device.ip, device.node, refusal);
  if (!line) {
    std::fputs(refusal.c_str(), stdout);
    return 0;
  }

  const std::unique_ptr<TempFile> temp = make_command_temp_file(paths);
  if (!temp)
    return -1;
  status = temp->write(*line);
  if (status.ok())
    status = prepend_to_config(paths, *temp);
  if (!status.ok())
    report_unchanged(paths.device_config, status);
  return 0;
}

void get_key_value(char** argv, int argc, const char* key, char* dst, std::size_t size) {
  if (size == 0 || dst == nullptr)
    return;
  const std::size_t key_length = std::strlen(key);
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr || std::strncmp(arg, key, key_length) != 0)
      continue;
    const char* value = arg + key_length;
    copy_truncated(dst, size, value, std::strcspn(value, " \t"));
    return;
  }
}

int is_valid_friendly_name(const char* text) {
  if (text[0] == '\0')
    return 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (!is_name_char(*c))
      return 0;
  }
  return 1;
}

int is_valid_ipv4(const char* text) {
  if (std::strlen(text) < 7)
    return 0;
  // Four runs of digits between three dots, each run a number up to 255
  // (leading zeros allowed). Nothing else: no sign, no blank, no empty run.
  int runs = 0;
  const char* c = text;
  for (;;) {
    if (!is_ascii_digit(*c))
      return 0;
    unsigned value = 0;
    for (; is_ascii_digit(*c); ++c) {
      value = value * 10 + static_cast<unsigned>(*c - '0');
      if (value > 255)
        return 0;
    }
    ++runs;
    if (*c == '\0')
      return runs == 4 ? 1 : 0;
    if (*c != '.' || runs == 4)
      return 0;
    ++c;
  }
}

}  // namespace kxsane
