// The add command ("-a"): its key=value arguments read into a registration
// request, and the request's outcome printed.
#pragma once

#include <cstddef>

#include "common/paths.h"
#include "common/status.h"
#include "models/model_table.h"
#include "registry/registration.h"

namespace kxsane {

// Copies the value of the first argument that begins with `key` (up to the
// first space, tab or end, at most `size` - 1 characters) into `dst`; leaves
// `dst` as it was when no argument has the key. Does nothing for size 0 or
// no `dst`. Arguments are looked at from the program name on.
void get_key_value(char** argv, int argc, const char* key, char* dst, std::size_t size);

// The request of "-a": `argv` holds the program name, the option and the
// key=value arguments "name=", "model=", "ip=" and "nodename=", each value
// cut to its capacity. Refused, with the message to print, when fewer than
// three arguments follow the option ("Invalid parameter 0") or the friendly
// name is not valid ("Invalid name").
Result<NewDevice> read_new_device(char** argv, int argc);

// Handler of "-a": reads the request, reads the model table and registers
// the device. Prints nothing when it is registered, otherwise the one line
// that refuses it or says the registry was left unchanged, and why.
void add_device(const Paths& paths, ModelTable& models, char** argv, int argc);

}  // namespace kxsane
