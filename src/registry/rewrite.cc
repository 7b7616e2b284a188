#include "registry/rewrite.h"

namespace kxsane {}  // namespace kxsane
