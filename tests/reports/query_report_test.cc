#include "reports/query_report.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "support/test_dir.h"

namespace kxsane {
namespace {

using kxsane::testing::capture_stdout;
using kxsane::testing::TestDir;

class QueryReport : public ::testing::Test {
 protected:
  std::string report() {
    return capture_stdout([&] { query_report(devices_, models_); });
  }

  TestDir dir_;
  Paths paths_ = dir_.paths();
  DeviceList devices_{paths_.device_config};
  ModelTable models_{paths_.models_dir, paths_.main_model_file};
};

TEST_F(QueryReport, NothingInstalledPrintsOnlyTheHeading) {
  EXPECT_EQ(report(), "\nDevices on network\n");
}

TEST_F(QueryReport, ListsModelsThenDevicesInPaddedColumns) {
  dir_.write("cfg/models4/a.ini", "[Support Model]\n0x1,1,1,\"A 1\"\n0x2,1,1,Bare\n");
  dir_.write("cfg/Kxsane4.ini", "[Support Model]\n0x3\n");
  const std::string model63 = "\"" + std::string(61, 'm') + "\"";
  dir_.write("cfg/kxsanenetdevice4.cfg",
             "DEVICE=office , \"M-1\" , 0x4ab:0x123 , IP-ADDRESS=10.0.0.5 \n"
             "DEVICE=eighteen-char-name , " +
                 model63 +
                 " , Unknown , NODENAME=KXN_1 \n"
                 "DEVICE=nineteen-chars-name , \"M\" , Unknown , IP-ADDRESS=10.0.0.6 \n"
                 "DEVICE=broken\n");
  EXPECT_EQ(report(),
            "  0 \"A1\"\n"
            "  1 Bare\n"
            "  2 \n"
            "\nDevices on network\n"
            "  0 office              \"M-1\"               I:10.0.0.5\n"
            "  1 eighteen-char-name  " +
                model63 +
                " N:KXN_1\n"
                "  2 nineteen-chars-name \"M\"                 I:10.0.0.6\n"
                "  3                                         \n");
  EXPECT_EQ(models_.size(), 0u);
}

TEST_F(QueryReport, UsesATableLoadedBeforeAndFreesIt) {
  dir_.write("cfg/Kxsane4.ini", "[Support Model]\n0x1,1,1,Old\n");
  models_.load_model_table();
  dir_.write("cfg/Kxsane4.ini", "[Support Model]\n0x1,1,1,New\n");
  EXPECT_EQ(report(), "  0 Old\n\nDevices on network\n");
  EXPECT_EQ(report(), "  0 New\n\nDevices on network\n");
}

}  // namespace
}  // namespace kxsane
