#include "reports/query_report.h"

namespace kxsane {
int query_report(DeviceList&, ModelTable&) {
  return 1;
}
}  // namespace kxsane
