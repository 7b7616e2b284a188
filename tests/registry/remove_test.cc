#include "registry/remove.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/shell_command.h"
#include "support/test_dir.h"

namespace kxsane {
namespace {

using testing::TestDir;

// Removes `names` from the registry in `dir`; returns why that failed, ""
// when it did not.
std::string remove(const TestDir& dir, const std::vector<std::string>& names) {
  return remove_devices(dir.paths(), names).message();
}

bool tmp_is_empty(const TestDir& dir) {
  return std::filesystem::is_empty(dir.file("tmp"));
}

TEST(RemoveCommandText, FriendlyNamesStandUnchanged) {
  // Every character a friendly name may hold stands in the text unchanged.
  const std::string name = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  EXPECT_EQ(remove_device_command("/tmp/kxsane_tempfile4_Ab12Z9", name),
            "cat /tmp/kxsane_tempfile4_Ab12Z9 | sed s/'DEVICE=" + name + " .*$'// | uniq");
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

TEST(RemoveDevices, NoTemporaryFileLeavesTheFileAndSaysWhy) {
  TestDir dir;
  dir.write("cfg/kxsanenetdevice4.cfg", "DEVICE=a , x \n");
  Paths paths = dir.paths();
  paths.temp_template = dir.file("no-such-dir/kxsane_tempfile4_XXXXXX");
  const Status status = remove_devices(paths, {"a"});
  EXPECT_EQ(status.message().rfind("cannot create a temporary file", 0), 0u) << status.message();
  EXPECT_EQ(dir.read("cfg/kxsanenetdevice4.cfg"), "DEVICE=a , x \n");
  // With nothing to remove no temporary file is needed.
  EXPECT_TRUE(remove_devices(paths, {}).ok());
}

}  // namespace
}  // namespace kxsane
