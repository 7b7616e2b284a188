// kxsanefind4 end to end: made-up scanners announce themselves from the
// scanner side of a private LAN, and the real binary finds them from the
// admin side, inside the mount namespace sandbox of the other end-to-end
// tests.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "discovery/lan.h"
#include "discovery/lan_suite.h"
#include "e2e/sandbox.h"

namespace kxsane {
namespace {

using e2e::RunOptions;
using e2e::Sandbox;
using lan::Announcement;
using lan::Lan;

constexpr char kRegistry[] =
    "DEVICE=lab , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.77.1.4 \n"
    "DEVICE=gone , \"KX-200\" , 0x4ab:0x124 , IP-ADDRESS=10.77.9.9 \n";

// A name and TXT values that would run commands if a shell took them as
// anything but literal text.
constexpr char kHostileName[] = "x$(touch /tmp/p1)`touch /tmp/p2`'\"\x1b;|&";
constexpr char kHostileCleaned[] = "x_touch_tmp_p1_touch_tmp_p2_";

const std::vector<Announcement>& lan_scanners() {
  static const std::vector<Announcement> scanners = {
      {"kx1", "10.77.1.1", "Office KX", {"_uscan._tcp"}, {"mdl=KX-100", "ty=Kestrel KX-100"}},
      {"kx2", "10.77.1.2", "Hall", {"_uscan._tcp"}, {"mdl=KX200x", "ty=Kestrel kx-200 Series"}},
      {"kx3", "10.77.1.3", "Acme", {"_uscan._tcp"}, {"mdl=Acme 3000", "ty=Acme 3000"}},
      {"kx4", "10.77.1.4", "Lab", {"_uscan._tcp"}, {"mdl=KX-100"}},
      {"kx5", "10.77.1.5", "Twin", {"_uscan._tcp", "_scanner._tcp"}, {"mdl=KX-100"}},
      {"kx6", "10.77.1.6", "Copy Room", {"_uscans._tcp"}, {"mdl=KX-100"}},
      {"kx7", "10.77.1.7", "Copy/Room", {"_uscan._tcp"}, {"mdl=KX-100"}},
      {"kx8",
       "10.77.1.8",
       kHostileName,
       {"_uscan._tcp"},
       {"mdl=KX-100'; touch /tmp/p3; '", "ty=\x1b[31m$(touch /tmp/p4) KX-100\n;"}},
      {"kx9",
       "10.77.1.9",
       "Junk\nkxsaneconfig4 -a name=x",
       {"_uscan._tcp"},
       {"mdl='$(touch /tmp/p5)'\a"}},
      // Printers: a scanner only when they say they scan.
      {"kxp1",
       "10.77.1.21",
       "Print Scan",
       {"_ipp._tcp"},
       {"Scan=T", "usb_MFG=Kestrel", "usb_MDL=KX-200", "ty=Kestrel KX-200 MFP"}},
      {"kxp2",
       "10.77.1.22",
       "Print Only",
       {"_ipp._tcp", "_printer._tcp"},
       {"Scan=F", "usb_MDL=KX-100"}},
      {"kxp3",
       "10.77.1.23",
       "Both Kinds",
       {"_ipp._tcp", "_uscan._tcp"},
       {"scan=t", "mdl=KX-100", "usb_MDL=KX-100"}},
      // Addresses no scanner can have: refused, neither printed as -a lines
      // nor registered.
      {"kxzero", "0.0.0.0", "Zero", {"_uscan._tcp"}, {"mdl=KX-100"}},
      {"kxloop", "127.0.0.1", "Loop", {"_uscan._tcp"}, {"mdl=KX-100"}},
  };
  return scanners;
}

// What the printed lines, or --add, register: new lines go on top.
constexpr char kRegistryAfterAdding[] =
    "DEVICE=Both_Kinds , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.77.1.23 \n"
    "DEVICE=Print_Scan , \"KX-200\" , 0x4ab:0x124 , IP-ADDRESS=10.77.1.21 \n"
    "DEVICE=x_touch_tmp_p1_touch_tmp_p2_ , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.77.1.8 \n"
    "DEVICE=Copy_Room-2 , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.77.1.7 \n"
    "DEVICE=Copy_Room , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.77.1.6 \n"
    "DEVICE=Twin , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.77.1.5 \n"
    "DEVICE=Hall , \"KX-200\" , 0x4ab:0x124 , IP-ADDRESS=10.77.1.2 \n"
    "DEVICE=Office_KX , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.77.1.1 \n"
    "DEVICE=lab , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.77.1.4 \n"
    "DEVICE=gone , \"KX-200\" , 0x4ab:0x124 , IP-ADDRESS=10.77.9.9 \n";

class FindOnLan : public lan::LanSuite {
 protected:
  static void SetUpTestSuite() {
    start_lan(std::string(KXSANE_E2E_WORK_ROOT) + "/lan",
              [](const Lan& lan) { return lan.announce(lan_scanners()); });
  }
  void SetUp() override {
    LanSuite::SetUp();
    if (sandbox_)
      sandbox_->write(e2e::kDeviceCfg, kRegistry);
  }
};

TEST_F(FindOnLan, PrintsACommandOrACommentPerScanner) {
  // Run as root, the finder reaches the daemon on the system bus at its
  // standard address, whatever the environment names.
  const e2e::RunResult result = sandbox_->shell(
      "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent \"$KX\" --timeout 5\n", on_admin_side());
  EXPECT_EQ(result.status, 0) << result.err;
  constexpr char kFirstLine[] = "# 11 scanners found in ";
  ASSERT_EQ(result.out.rfind(kFirstLine, 0), 0u) << result.out;
  // The search ends with the daemon's answers, not at the timeout.
  EXPECT_LT(std::atof(result.out.c_str() + sizeof kFirstLine - 1), 4) << result.out;
  const std::size_t first_end = result.out.find('\n');
  EXPECT_NE(result.out.substr(0, first_end).find(" s over DNS-SD"), std::string::npos);
  EXPECT_EQ(result.out.substr(first_end + 1),
            "# refused 0.0.0.0 (kxzero.local): an address of no host (0.0.0.0/8)\n"
            "kxsaneconfig4 -a name=Office_KX model=KX-100 ip=10.77.1.1\n"
            "kxsaneconfig4 -a name=Hall model=KX-200 ip=10.77.1.2\n"
            "# no known model at 10.77.1.3 (kx3.local), which announces 'Acme 3000'\n"
            "# lab is registered; seen at 10.77.1.4 (kx4.local)\n"
            "kxsaneconfig4 -a name=Twin model=KX-100 ip=10.77.1.5\n"
            "kxsaneconfig4 -a name=Copy_Room model=KX-100 ip=10.77.1.6\n"
            "kxsaneconfig4 -a name=Copy_Room-2 model=KX-100 ip=10.77.1.7\n"
            "kxsaneconfig4 -a name=x_touch_tmp_p1_touch_tmp_p2_ model=KX-100 ip=10.77.1.8\n"
            "# no known model at 10.77.1.9 (kx9.local), which announces "
            "''\\''$(touch /tmp/p5)'\\'''\n"
            "kxsaneconfig4 -a name=Print_Scan model=KX-200 ip=10.77.1.21\n"
            "kxsaneconfig4 -a name=Both_Kinds model=KX-100 ip=10.77.1.23\n"
            "# refused 127.0.0.1 (kxloop.local): a loopback address\n"
            "# gone is registered (10.77.9.9) but was not seen\n");
}

TEST_F(FindOnLan, PrintedLinesAndAddRegisterTheSameNewScannersOnly) {
  const struct {
    const char* how;
    const char* script;
  } kCases[] = {
      {"printed lines run with sh",
       "\"$KX\" > \"$WORK/printed\" && PATH=\"$(dirname \"$KX\"):$PATH\" sh \"$WORK/printed\"\n"},
      {"--add", "\"$KX\" --add\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.how);
    sandbox_->write(e2e::kDeviceCfg, kRegistry);
    const e2e::RunResult result = sandbox_->shell(c.script, on_admin_side());
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(sandbox_->read(e2e::kDeviceCfg).value_or(""), kRegistryAfterAdding) << result.out;
    EXPECT_EQ(sandbox_->tmp_entries(), "") << "a hostile announcement ran a command";
  }
}

TEST_F(FindOnLan, AddPrintsOneLinePerRegistrationOrRefusal) {
  sandbox_->write(e2e::kDeviceCfg, std::string(kRegistry) +
                                       "DEVICE=Twin , \"KX-100\" , 0x4ab:0x123 , "
                                       "IP-ADDRESS=10.0.0.1 \n");
  // Twin is taken by a scanner elsewhere, so its suggestion is Twin-2.
  const e2e::RunResult result = sandbox_->run({"--add"}, on_admin_side());
  EXPECT_NE(result.out.find("\nOffice_KX: registered as \"KX-100\" at 10.77.1.1\n"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("\nTwin-2: registered as \"KX-100\" at 10.77.1.5\n"),
            std::string::npos);
  EXPECT_EQ(result.out.find("kxsaneconfig4 -a"), std::string::npos);
}

TEST_F(FindOnLan, JsonListsSeenAndRegisteredScanners) {
  const struct {
    const char* address;
    const char* name;
    const char* model;  // nullptr: none matched
    bool registered;
    std::size_t services;
  } kExpected[] = {
      {"0.0.0.0", "Zero", "KX-100", false, 1},
      {"10.77.1.1", "Office_KX", "KX-100", false, 1},
      {"10.77.1.2", "Hall", "KX-200", false, 1},
      {"10.77.1.3", "Acme", nullptr, false, 1},
      {"10.77.1.4", "lab", "KX-100", true, 1},
      {"10.77.1.5", "Twin", "KX-100", false, 2},
      {"10.77.1.6", "Copy_Room", "KX-100", false, 1},
      {"10.77.1.7", "Copy_Room-2", "KX-100", false, 1},
      {"10.77.1.8", kHostileCleaned, "KX-100", false, 1},
      {"10.77.1.9", "Junk_kxsaneconfig4_-a_name_x", nullptr, false, 1},
      {"10.77.1.21", "Print_Scan", "KX-200", false, 1},
      {"10.77.1.23", "Both_Kinds", "KX-100", false, 2},
      {"127.0.0.1", "Loop", "KX-100", false, 1},
      {"10.77.9.9", "gone", "KX-200", true, 0},
  };
  const nlohmann::json list = run_json();
  ASSERT_EQ(list.size(), std::size(kExpected)) << list.dump(2);
  for (std::size_t i = 0; i < list.size(); ++i) {
    const auto& e = kExpected[i];
    lan::expect_json_scanner(list[i], e.address, e.name, e.model);
    EXPECT_EQ(list[i]["registered"], e.registered) << e.address;
    EXPECT_EQ(list[i]["services"].size(), e.services) << e.address;
  }
  EXPECT_EQ(list[5]["services"], nlohmann::json({"_uscan._tcp", "_scanner._tcp"}));
  EXPECT_EQ(list[9]["announced"], "'$(touch /tmp/p5)'");
  EXPECT_EQ(list[0]["refused"], "an address of no host (0.0.0.0/8)");
  EXPECT_EQ(list[12]["refused"], "a loopback address");
  EXPECT_EQ(list[10]["announced"], "Kestrel KX-200");
  EXPECT_EQ(list[11]["services"], nlohmann::json({"_uscan._tcp", "_ipp._tcp"}));
  EXPECT_EQ(list[1]["refused"], nullptr);
}

TEST_F(FindOnLan, DaemonThatStopsAnsweringCostsNoMoreThanTheTimeoutAndLosesNothingFound) {
  // Names that never resolve keep the run going for a second after the
  // scanners have resolved: the daemon is frozen in between.
  ASSERT_EQ(lan_->announce_in_bulk(3, false), "");
  const struct {
    const char* script;
    int status;
    const char* err;  // a part of standard error
    const char* out;  // the start of standard output
  } kCases[] = {
      {"stop; find", 1, "DNS-SD: no answer before the timeout", ""},
      {"find & sleep 0.5; stop; wait $!", 0,
       "DNS-SD did not finish: the Avahi daemon stopped answering", "# 11 scanners found in "},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.script);
    const auto started = std::chrono::steady_clock::now();
    const e2e::RunResult result = sandbox_->shell(
        std::string("find() { \"$KX\" --protocol dnssd --timeout 2; }\n"
                    "stop() { kill -STOP \"$(cat /run/avahi-daemon/pid)\" || exit 99; }\n") +
            c.script + "\nstatus=$?; kill -CONT \"$(cat /run/avahi-daemon/pid)\"; exit $status\n",
        on_admin_side());
    EXPECT_EQ(result.status, c.status) << result.out;
    EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    EXPECT_EQ(result.out.rfind(c.out, 0), 0u) << result.out;
    // Two seconds of timeout and half a second of grace, not the bus's own
    // 25 s timeout of a call.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(6));
  }
  EXPECT_EQ(lan_->announce_in_bulk(0, false), "");
}

TEST_F(FindOnLan, NamesThatNeverResolveDoNotShutOutOnesThatDo) {
  // More than the daemon lets one client resolve at once.
  ASSERT_EQ(lan_->announce_in_bulk(1100, false), "");
  // 1,100 names given up on after 1 s each, 64 at a time: the first pass
  // over them all takes about 17 s.
  const nlohmann::json list = run_json({"--protocol", "dnssd", "--timeout", "22"});
  EXPECT_EQ(lan_->announce_in_bulk(0, false), "");
  // Every announced scanner, and the registered one not seen; not the
  // printer that does not scan.
  EXPECT_EQ(list.size(), lan_scanners().size()) << list.dump(2);
}

// Runs that never reach a daemon: bad usage, help, and no daemon at all.
TEST(FindWithoutLan, UsageHelpAndMissingDaemon) {
  KXSANE_REQUIRE_SANDBOX();
  // A network and a /run of its own, without bus or daemon.
  RunOptions no_daemon;
  no_daemon.enter = {"unshare", "-n",      "-m", "--propagation",
                     "private", "/bin/sh", "-c", "mount -t tmpfs kxsane-run /run && exec \"$@\"",
                     "sh"};
  const struct {
    std::vector<std::string> args;
    int status;
    const char* err;  // a part of standard error; none: it stays empty
  } kCases[] = {
      {{"--help"}, 0, nullptr},
      {{"--bogus"}, 2, "unknown option --bogus"},
      {{"--timeout", "61"}, 2, "invalid value for --timeout"},
      {{"--timeout=0"}, 2, "invalid value for --timeout"},
      {{"--timeout", "0x10"}, 2, "invalid value for --timeout"},
      {{"--timeout", " 2"}, 2, "invalid value for --timeout"},
      {{"--protocol", "smb"}, 2, "invalid value for --protocol"},
      {{"--json", "--add"}, 2, "do not go together"},
      {{"--subnet", "10.78.0.0/20", "--subnet", "10.79.0.0/32"}, 2, "4097 addresses in all"},
      {{"--subnet", "10.78.0.0/24/8"}, 2, "invalid value for --subnet"},
      {{"--subnet", "10.78.0.0/24", "--protocol", "dnssd"}, 2, "--subnet goes with"},
      {{"--community="}, 2, "invalid value for --community"},
      {{"--protocol", "dnssd"}, 1, "start avahi-daemon"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.args.front());
    Sandbox sandbox;
    // Timed inside the namespace: the program alone, not the sandbox.
    std::string script = "start=$(date +%s%N)\n\"$KX\"";
    for (const std::string& arg : c.args) script += " " + e2e::sh_quote(arg);
    script +=
        "\nstatus=$?\necho $(( ($(date +%s%N) - start) / 1000000 )) > \"$WORK/ms\"\n"
        "exit $status\n";
    const e2e::RunResult result = sandbox.shell(script, no_daemon);
    std::ifstream ms(sandbox.work() + "/ms");
    int elapsed_ms = -1;
    ms >> elapsed_ms;
    EXPECT_GE(elapsed_ms, 0);
    EXPECT_LT(elapsed_ms, 1000);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_TRUE(c.err ? result.err.find(c.err) != std::string::npos : result.err.empty())
        << result.err;
    if (c.status == 0) {
      EXPECT_NE(result.out.find("Usage: kxsanefind4"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace kxsane
