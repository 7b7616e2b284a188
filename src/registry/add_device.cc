#include "registry/add_device.h"

namespace kxsane {
int add_device(const Paths&, DeviceList&, ModelTable&, char**, int) {
  return 0;
}
}  // namespace kxsane
