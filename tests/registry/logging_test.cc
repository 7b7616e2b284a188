#include "registry/logging.h"

#include <string>

#include <gtest/gtest.h>

#include "support/test_dir.h"

namespace kxsane {
namespace {

using testing::capture_stdout;
using testing::TestDir;

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
