// The ping sweep, end to end, with the stub ping first on PATH.
#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

TEST(PingSweep, LastDeviceFirstAndNodeNameBeforeAddress) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg,
           "DEVICE=first , \"M-1\" , 0x0:0x123 , IP-ADDRESS=10.0.0.5 \n"
           "DEVICE=second , \"M-2\" , Unknown , NODENAME=KXN_00012 \n");
  const RunResult r = sb.run({"-p"});
  EXPECT_EQ(r.out,
            "test second\n"
            "ping KXN_00012 -w 10\n\n"
            "stub ping: KXN_00012 -w 10\n"
            "test first\n"
            "ping 10.0.0.5 -w 10\n\n"
            "stub ping: 10.0.0.5 -w 10\n");
  EXPECT_EQ(sb.stub_calls(), "ping [KXN_00012] [-w] [10]\nping [10.0.0.5] [-w] [10]\n");
  EXPECT_EQ(r.status, 0);
}

TEST(PingSweep, RecordWithoutAddressGetsOnlyItsTestLine) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg, "x=y\nDEVICE=a , \"M\" , U\n");
  const RunResult r = sb.run({"-p"});
  EXPECT_EQ(r.out, "test \ntest \n");
  EXPECT_EQ(sb.stub_calls(), "");
}

TEST(PingSweep, NothingWithoutDevicesOrFile) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  EXPECT_EQ(sb.run({"-p"}).out, "");
  sb.write(kDeviceCfg, "# only a comment\nlog=/tmp/kx_sane.log , 1 , w\n");
  EXPECT_EQ(sb.run({"-p"}).out, "");
  EXPECT_EQ(sb.stub_calls(), "");
}

TEST(PingSweep, HostileTargetsNeverReachTheShell) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg,
           "DEVICE=a , \"M\" , U , NODENAME=$(touch${IFS}/etc/opt/INJECTED) \n"
           "DEVICE=b , \"M\" , U , NODENAME=x;touch${IFS}/etc/opt/INJECTED \n"
           "DEVICE=c , \"M\" , U , NODENAME=-f \n"
           "DEVICE=d , \"M\" , U , IP-ADDRESS=`touch${IFS}/etc/opt/INJECTED` \n"
           "DEVICE=e , \"M\" , U , NODENAME=ok.host \n");
  const RunResult r = sb.shell("\"$KX\" -p; ls /etc/opt/INJECTED 2>/dev/null\n");
  EXPECT_EQ(r.out,
            "test e\n"
            "ping ok.host -w 10\n\n"
            "stub ping: ok.host -w 10\n"
            "test d\n"
            "skipped: \"`touch${IFS}/etc/opt/INJECTED`\" is not a plain host name or IPv4 "
            "address\n"
            "test c\n"
            "skipped: \"-f\" is not a plain host name or IPv4 address\n"
            "test b\n"
            "skipped: \"x;touch${IFS}/etc/opt/INJECTED\" is not a plain host name or IPv4 "
            "address\n"
            "test a\n"
            "skipped: \"$(touch${IFS}/etc/opt/INJECTED)\" is not a plain host name or IPv4 "
            "address\n");
  EXPECT_EQ(sb.stub_calls(), "ping [ok.host] [-w] [10]\n");
}

TEST(PingSweep, OrderHoldsThroughAPipe) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg,
           "DEVICE=a , \"M\" , U , IP-ADDRESS=10.0.0.1 \n"
           "DEVICE=b , \"M\" , U , IP-ADDRESS=10.0.0.2 \n");
  const RunResult r = sb.shell("\"$KX\" -p | cat\n");
  EXPECT_EQ(r.out,
            "test b\nping 10.0.0.2 -w 10\n\nstub ping: 10.0.0.2 -w 10\n"
            "test a\nping 10.0.0.1 -w 10\n\nstub ping: 10.0.0.1 -w 10\n");
}

}  // namespace
}  // namespace kxsane::e2e
