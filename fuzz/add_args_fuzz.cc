// Properties of the add and remove arguments: an argument vector of any
// bytes is taken apart without overflow (every value fits its buffer); the
// checks accept only what they promise; a device line the add command would
// write reads back into the same fields; a -r name reaches the shell as one
// literal sed pattern.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../tests/support/device_line.h"
#include "cli/add_command.h"
#include "common/shell_command.h"
#include "common/text.h"
#include "registry/device_list.h"
#include "registry/registration.h"
#include "shell_words.h"

using kxsane::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Arguments are separated by NUL bytes, as in a real argument vector.
  std::vector<std::string> args = {"kxsaneconfig4", "-a"};
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  args.push_back(current);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(args.size());

  // The buffers of the add command, with a guard byte behind each.
  char name[64 + 1] = {}, model[62 + 1] = {}, ip[30 + 1] = {}, node[64 + 1] = {};
  name[64] = model[62] = ip[30] = node[64] = '#';
  kxsane::get_key_value(argv.data(), argc, "name=", name, 64);
  kxsane::get_key_value(argv.data(), argc, "model=", model, 62);
  kxsane::get_key_value(argv.data(), argc, "ip=", ip, 30);
  kxsane::get_key_value(argv.data(), argc, "nodename=", node, 64);
  check(name[64] == '#' && model[62] == '#' && ip[30] == '#' && node[64] == '#');
  check(std::strlen(name) < 64 && std::strlen(model) < 62 && std::strlen(ip) < 30);

  if (kxsane::is_valid_friendly_name(name)) {
    for (const char* c = name; *c != '\0'; ++c)
      check(std::strchr("-_", *c) || std::isalnum(static_cast<unsigned char>(*c)));
  }
  if (kxsane::is_valid_ipv4(ip)) {
    int dots = 0;
    for (const char* c = ip; *c != '\0'; ++c) {
      check(*c == '.' || (*c >= '0' && *c <= '9'));
      dots += *c == '.';
    }
    check(dots == 3 && std::strstr(ip, "..") == nullptr && ip[0] != '.');
  }

  // The line an add would write reads back into the same fields.
  const kxsane::DeviceList empty("/nonexistent");
  const kxsane::ModelTable no_models("/nonexistent", "/nonexistent");
  const kxsane::AddOutcome outcome =
      kxsane::decide_add({name, model, ip, node}, kxsane::RegistryState(empty), no_models);
  kxsane::strip_whitespace(model);
  kxsane::strip_whitespace(ip);
  kxsane::strip_whitespace(node);
  if (outcome.status.ok()) {
    check(kxsane::is_valid_friendly_name(name));
    kxsane::DeviceRecord record;
    check(kxsane::parse_device_line(outcome.line, record));
    const std::string quoted = std::string("\"") + model + "\"";
    if (outcome.line.size() <= 276 && quoted.size() < 64) {
      check(std::strcmp(record.fields[kxsane::kFriendlyName], name) == 0);
      check(record.fields[kxsane::kModelName] == quoted);
      check(std::strcmp(record.fields[kxsane::kUsbIds], "Unknown") == 0);
      const bool by_node = node[0] != '\0';
      check(std::strcmp(record.fields[by_node ? kxsane::kNodeName : kxsane::kIpAddress],
                        by_node ? node : ip) == 0);
    }
  } else {
    check(outcome.status.refused() && !outcome.status.message().empty());
  }

  // Every -r name is one literal pattern, whatever it holds.
  for (std::size_t i = 2; i < args.size(); ++i) kxsane::fuzz::check_remove_command(args[i]);
  return 0;
}
