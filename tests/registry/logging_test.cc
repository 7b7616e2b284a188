#include "registry/logging.h"

#include <string>

#include <gtest/gtest.h>

#include "support/test_dir.h"

namespace kxsane {
namespace {

using testing::TestDir;

TEST(LoggingSwitch, NoTemporaryFileLeavesTheFileAndSaysSo) {
  TestDir dir;
  dir.write("cfg/kxsanenetdevice4.cfg", "log=x\n");
  Paths paths = dir.paths();
  paths.temp_template = dir.file("no-such-dir/kxsane_tempfile4_XXXXXX");
  for (Status (*command)(const Paths&) : {logging_on, logging_off}) {
    const Status status = command(paths);
    EXPECT_EQ(status.message().rfind("cannot create a temporary file", 0), 0u) << status.message();
    EXPECT_EQ(dir.read("cfg/kxsanenetdevice4.cfg"), "log=x\n");
  }
}

}  // namespace
}  // namespace kxsane
