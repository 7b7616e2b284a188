// The add command ("-a"): registers one network scanner.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "common/paths.h"
#include "models/model_table.h"
#include "registry/device_list.h"

namespace kxsane {

// Handler of "-a". `argv` holds the program name, the option and the
// key=value arguments. Checks the arguments, reads the model table and,
// under the configuration lock, the registry, each of which must be read
// whole, checks the name and the address, and registers the device at the
// top of the device configuration file. Prints one message for the first refusal and changes
// nothing then; prints nothing on success. When the registry or the model
// table cannot be read whole, or the file cannot be replaced, it stays as it
// was and one line naming it is printed. Returns 0, or -1 when no temporary
// file can be made.
int add_device(const Paths& paths, DeviceList& devices, ModelTable& models, char** argv, int argc);

// The device line (with its line break) that the add command writes for
// values whose whitespace is removed, or none with the message that refuses
// them in `refusal`: no address, a node name that is not a plain host name,
// a model text that would read back as other fields, an IP address that is
// not valid. `model_text` is the model without its quotes.
std::optional<std::string> device_line_for(const char* name, const char* model_text,
                                           const char* usb_ids, const char* ip, const char* node,
                                           std::string& refusal);

// Copies the value of the first argument that begins with `key` (up to the
// first space, tab or end, at most `size` - 1 characters) into `dst`; leaves
// `dst` as it was when no argument has the key. Does nothing for size 0 or
// no `dst`.
void get_key_value(char** argv, int argc, const char* key, char* dst, std::size_t size);

// 1 when `text` is non-empty and only ASCII letters, digits, "-" and "_".
int is_valid_friendly_name(const char* text);

// 1 when `text` is a dotted quad of four numbers 0..255, at least 7
// characters, only digits and exactly three "." with no ".." and no "." at
// either end.
int is_valid_ipv4(const char* text);

}  // namespace kxsane
