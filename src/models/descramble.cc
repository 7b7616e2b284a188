#include "models/descramble.h"

namespace kxsane {}  // namespace kxsane
