#include "cli/add_command.h"

#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "registry/rewrite.h"

namespace kxsane {

namespace {

// Fewer arguments than the program name, the option and three values.
constexpr int kMinArgc = 5;

// The value of `key` as get_key_value takes it, at most `max` characters.
std::string value_of(char** argv, int argc, const char* key, std::size_t max) {
  std::string value(max + 1, '\0');
  get_key_value(argv, argc, key, value.data(), value.size());
  value.resize(std::strlen(value.c_str()));
  return value;
}

}  // namespace

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

Result<NewDevice> read_new_device(char** argv, int argc) {
  if (argc < kMinArgc)
    return Status::Refused("Invalid parameter 0\n");
  NewDevice device{
      value_of(argv, argc, "name=", kNewNameMax), value_of(argv, argc, "model=", kNewModelMax),
      value_of(argv, argc, "ip=", kNewIpMax), value_of(argv, argc, "nodename=", kNewNodeMax)};
  if (!is_valid_friendly_name(device.name))
    return Status::Refused("Invalid name\n");
  return device;
}

void add_device(const Paths& paths, ModelTable& models, char** argv, int argc) {
  const Result<NewDevice> device = read_new_device(argv, argc);
  if (!device.ok()) {
    std::fputs(device.status().message().c_str(), stdout);
    return;
  }
  // A model table read in part could register a known model as unknown.
  // The tool never changes the model files: they are read before the lock,
  // which concurrent runs wait for.
  if (const Status loaded = models.load(); !loaded.ok()) {
    std::fputs(unchanged_message(paths.device_config, loaded).c_str(), stdout);
    return;
  }
  const AddOutcome outcome = register_devices(paths, models, {&*device, 1}).front();
  if (!outcome.status.ok())
    std::fputs(outcome.status.message().c_str(), stdout);
}

}  // namespace kxsane
