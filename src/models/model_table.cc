#include "models/model_table.h"

namespace kxsane {
const std::uint32_t DEFAULT_VENDOR_ID = KXSANE_DEFAULT_VENDOR_ID;
ModelTable::ModelTable(std::string models_dir, std::string main_file)
    : models_dir_(std::move(models_dir)), main_file_(std::move(main_file)) {}
}  // namespace kxsane
