#include "models/scrambler.h"

namespace kxsane {}  // namespace kxsane
