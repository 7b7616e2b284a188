// The query report, end to end: "-q" over installed model files and the
// device configuration file.
#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

// "0x5,1,1,"Scrambled"" as the authoring tool writes it.
constexpr char kScrambledLine[] = "@7LfUnUnU'Ed2O#Z-[K'\n";

TEST(QueryE2e, ListsInstalledModelsAndRegisteredDevices) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write("models4/a.ini",
           std::string("[Support Model]\n0x1:0x2,101,0,\"M 1\"\n") + kScrambledLine);
  sb.write("models4/b.INI", "[Support Model]\n0x3,1,1,\"Ignored\"\n");
  sb.write("Kxsane4.ini", "[General]\n[Support Model]\r\n# models\r\n0x4,1,1,\"Main\"\r\n\r\n");
  sb.write(kDeviceCfg,
           "DEVICE=office , \"M1\" , 0x1:0x2 , IP-ADDRESS=10.0.0.5 \n"
           "DEVICE=lab , \"Main\" , 0x0:0x4 , NODENAME=KXN_00001 \n");
  const RunResult r = sb.run({"-q"});
  EXPECT_EQ(r.out,
            "  0 \"M1\"\n"
            "  1 \"Scrambled\"\n"
            "  2 \"Main\"\n"
            "  3 \n"
            "\nDevices on network\n"
            "  0 office              \"M1\"                I:10.0.0.5\n"
            "  1 lab                 \"Main\"              N:KXN_00001\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(sb.tmp_entries(), "");
}

TEST(QueryE2e, NothingInstalled) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  const RunResult r = sb.run({"-q"});
  EXPECT_EQ(r.out, "\nDevices on network\n");
  EXPECT_EQ(r.status, 0);
}

}  // namespace
}  // namespace kxsane::e2e
