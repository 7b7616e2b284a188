// The model-file authoring tool's work: scrambling the model lines of a model
// description file, and turning a scrambled file back into plain text.
#pragma once

#include <string>

#include "common/status.h"

namespace kxsane {

// Writes `input` (a whole model description file) to `output` with every
// model line of its "[Support Model]" section scrambled. Comments, blank
// lines, section headers and everything outside the section stay as they
// are; lines already scrambled stay as they are. Fails, naming the line, on a
// byte that cannot be encoded.
Status scramble_model_file(const std::string& input, std::string& output);

// The reverse: every scrambled line of the section written as plain text.
Status unscramble_model_file(const std::string& input, std::string& output);

}  // namespace kxsane
