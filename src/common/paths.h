// The fixed places of the tool's files. The double slashes are part of the
// paths as the tool prints them.
#pragma once

#include <string>

namespace kxsane {

inline constexpr char kConfigDir[] = "/etc/opt/kestrel/scanner/kxscan4/";
inline constexpr char kDeviceConfigPath[] =
    "/etc/opt/kestrel/scanner/kxscan4//kxsanenetdevice4.cfg";
inline constexpr char kModelsDir[] = "/etc/opt/kestrel/scanner/kxscan4//models4";
inline constexpr char kMainModelFile[] = "/etc/opt/kestrel/scanner/kxscan4//Kxsane4.ini";
inline constexpr char kLabelSuffix[] = ".kxsaneconfig4";
inline constexpr char kTempFileTemplate[] = "/tmp/kxsane_tempfile4_XXXXXX";

// The places one run works with. The tool always uses the defaults; tests
// point them into a directory of their own.
struct Paths {
  std::string config_dir = kConfigDir;  // label files, and the lock
  std::string device_config = kDeviceConfigPath;
  std::string models_dir = kModelsDir;
  std::string main_model_file = kMainModelFile;
  std::string temp_template = kTempFileTemplate;
};

}  // namespace kxsane
