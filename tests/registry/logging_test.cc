#include "registry/logging.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/test_dir.h"

namespace kxsane {
namespace {

using testing::capture_stdout;
using testing::TestDir;

TEST(LoggingSwitch, LoggingLineIsTheTwentyNineBytes) {
  EXPECT_EQ(std::string(kLoggingLine), "log=/tmp/kx_sane.log , 1 , w\n");
  EXPECT_EQ(sizeof kLoggingLine - 1, 29u);
}

TEST(LoggingSwitch, OnPrependsAndOffEmptiesEveryEntry) {
  TestDir dir;
  const std::string devices = "DEVICE=a , \"M\" , Unknown , IP-ADDRESS=1.1.1.1 \n";
  dir.write("cfg/kxsanenetdevice4.cfg", devices);
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(logging_on(dir.paths()), 0); }), "");
  EXPECT_EQ(dir.read("cfg/kxsanenetdevice4.cfg"), kLoggingLine + devices);

  dir.write("cfg/kxsanenetdevice4.cfg", "# note log=x\n" + devices + "log=/a , 2 , r\n");
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(logging_off(dir.paths()), 0); }), "");
  EXPECT_EQ(dir.read("cfg/kxsanenetdevice4.cfg"), "# note \n" + devices + "\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("tmp")));
}

TEST(LoggingSwitch, NoTemporaryFileLeavesTheFileAndSaysSo) {
  TestDir dir;
  dir.write("cfg/kxsanenetdevice4.cfg", "log=x\n");
  Paths paths = dir.paths();
  paths.temp_template = dir.file("no-such-dir/kxsane_tempfile4_XXXXXX");
  for (int (*command)(const Paths&) : {logging_on, logging_off}) {
    int result = 0;
    const std::string out = capture_stdout([&] { result = command(paths); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(out.rfind("Could not update " + paths.device_config, 0), 0u) << out;
    EXPECT_EQ(dir.read("cfg/kxsanenetdevice4.cfg"), "log=x\n");
  }
}

}  // namespace
}  // namespace kxsane
