#include "support/test_dir.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace kxsane::testing {

namespace fs = std::filesystem;

TestDir::TestDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  path_ = std::string(KXSANE_TEST_WORK_ROOT) + "/" + info->test_suite_name() + "." + info->name();
  fs::remove_all(path_);
  fs::create_directories(path_ + "/cfg/models4");
  fs::create_directories(path_ + "/tmp");
}

TestDir::~TestDir() {
  if (!::testing::Test::HasFailure()) {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
}

void TestDir::write(const std::string& name, const std::string& content) const {
  const fs::path target = file(name);
  fs::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out << content;
}

std::optional<std::string> TestDir::read(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  if (!in)
    return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

Paths TestDir::paths() const {
  Paths paths;
  paths.config_dir = path_ + "/cfg/";
  paths.device_config = path_ + "/cfg//kxsanenetdevice4.cfg";
  paths.models_dir = path_ + "/cfg//models4";
  paths.main_model_file = path_ + "/cfg//Kxsane4.ini";
  paths.temp_template = path_ + "/tmp/kxsane_tempfile4_XXXXXX";
  return paths;
}

}  // namespace kxsane::testing
