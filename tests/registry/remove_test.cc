#include "registry/remove.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/shell_command.h"
#include "support/test_dir.h"

namespace kxsane {
namespace {

using testing::capture_stdout;
using testing::TestDir;

// Runs "-r" with `names` against the registry in `dir`; returns the output.
std::string remove(const TestDir& dir, std::vector<std::string> names) {
  std::vector<char*> argv = {const_cast<char*>("kxsaneconfig4"), const_cast<char*>("-r")};
  for (auto& name : names) argv.push_back(name.data());
  return capture_stdout(
      [&] { remove_devices(dir.paths(), argv.data(), static_cast<int>(argv.size())); });
}

bool tmp_is_empty(const TestDir& dir) {
  return std::filesystem::is_empty(dir.file("tmp"));
}

TEST(RemoveCommandText, FriendlyNamesStandUnquotedInThePipeline) {
  // Every character a friendly name may hold stands in the text unchanged.
  const std::string name = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  EXPECT_EQ(remove_device_command("/tmp/kxsane_tempfile4_Ab12Z9", name, kDeviceConfigPath),
            "cat /tmp/kxsane_tempfile4_Ab12Z9 | sed s/'DEVICE=" + name +
                " .*$'// | uniq > /etc/opt/kestrel/scanner/kxscan4//kxsanenetdevice4.cfg");
}

TEST(RemoveDevices, LineWithBytesOutsideTheLocaleIsStillRemoved) {
  // Hand-written model texts in Latin-1: the match is byte-wise, whatever the
  // locale of the caller.
  TestDir dir;
  dir.write("cfg/kxsanenetdevice4.cfg",
            "DEVICE=a\xe9 , \"M\xff\" , Unknown , IP-ADDRESS=1.1.1.1 \nkeep\n");
  EXPECT_EQ(remove(dir, {"a\xe9"}), "");
  EXPECT_EQ(dir.read("cfg/kxsanenetdevice4.cfg"), "\nkeep\n");
  EXPECT_TRUE(tmp_is_empty(dir));
}

TEST(RemoveDevices, NoTemporaryFileReportsTheFileUnchanged) {
  TestDir dir;
  dir.write("cfg/kxsanenetdevice4.cfg", "DEVICE=a , x \n");
  Paths paths = dir.paths();
  paths.temp_template = dir.file("no-such-dir/kxsane_tempfile4_XXXXXX");
  std::vector<std::string> args = {"kxsaneconfig4", "-r", "a"};
  std::vector<char*> argv;
  argv.reserve(args.size());
  for (auto& a : args) argv.push_back(a.data());
  int result = 0;
  const std::string out = capture_stdout([&] { result = remove_devices(paths, argv.data(), 3); });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(out.rfind("Could not update " + paths.device_config, 0), 0u) << out;
  EXPECT_EQ(dir.read("cfg/kxsanenetdevice4.cfg"), "DEVICE=a , x \n");
  // With nothing to remove there is nothing to report.
  const std::string quiet = capture_stdout([&] { result = remove_devices(paths, argv.data(), 2); });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(quiet, "");
}

}  // namespace
}  // namespace kxsane
