// The model-file authoring tool's work: scrambling the model lines of a model
// description file, and turning a scrambled file back into plain text.
#pragma once

#include <string>

#include "common/status.h"

namespace kxsane {

// `input` (a whole model description file) with every
// model line of its "[Support Model]" section scrambled. Comments, blank
// lines, section headers and everything outside the section stay as they
// are; lines already scrambled stay as they are. Fails, naming the line, on a
// byte that cannot be encoded.
Result<std::string> scramble_model_file(const std::string& input);

// The reverse: every scrambled line of the section written as plain text.
Result<std::string> unscramble_model_file(const std::string& input);

}  // namespace kxsane
