// kxsanefind4 over WS-Discovery and SNMP, end to end: made-up devices of
// the test responders answer from the scanner side of a private LAN (one of
// them is announced over DNS-SD too and answers all three protocols; two
// are on a subnet past a router that multicast and broadcast do not cross),
// and the real binary finds them from the admin side.
#include <cstdlib>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "discovery/lan.h"
#include "discovery/lan_suite.h"
#include "discovery/wsd_devices.h"
#include "e2e/sandbox.h"

namespace kxsane {
namespace {

using e2e::RunOptions;
using e2e::Sandbox;
using lan::Lan;
using lan::start_snmp_agents;
using lan::start_wsd_devices;

// ADDRESS|KIND|MAKE|MODEL|FRIENDLY NAME, as wsd_responder reads them; every
// address is on the scanner side's link.
constexpr char kDevices[] =
    "10.77.0.11|scanner|Kestrel|KX-200|Front Desk;$(reboot)\n"
    "10.77.0.12|scanner|Kestrel|KX-100|Both over WSD\n"
    "10.77.0.13|printer|Kestrel|KX-100|Printer\n"
    "10.77.0.14|silent|Kestrel|KX-100|Silent\n"
    "10.77.0.15|foreign|Kestrel|KX-100|Foreign\n"
    "10.77.0.16|oversized|Kestrel|KX-100|Oversized\n"
    "10.77.0.17|malformed|Kestrel|KX-100|Malformed\n"
    "10.77.0.18|huge-metadata|Kestrel|KX-100|Huge\n"
    "10.77.0.19|elsewhere=10.77.0.20|Kestrel|KX-100|Elsewhere\n"
    "10.77.0.21|forged|Kestrel|KX-100|Forged\n"
    "10.78.0.5|routed|Kestrel|KX-100|Routed WSD\n";
// Not a device: where the one at .19 claims its metadata is.
constexpr char kElsewhere[] = "10.77.0.20";
// Not a device either: a host whose address a forged answer gave as its
// source, with its metadata on that host.
constexpr char kForged[] = "10.77.0.21";

// ADDRESS|KIND|COMMUNITY|SYSNAME|SYSDESCR|HRDEVICEDESCR|DEVICEID, as
// snmp_responder reads them.
constexpr char kAgents[] =
    "10.77.0.12|agent|public|both-snmp|Kestrel KX-100|KX-100|MFG:Kestrel;MDL:KX-100;\n"
    "10.77.0.31|agent|public|snmp-desk|Kestrel scanner|Desk unit|MFG:Kestrel;MDL:KX-200;\n"
    "10.77.0.32|agent|public|hr-only|Kestrel office device|KX-100|\n"
    "10.77.0.33|agent|public|switch|Switch 24-port KX9 firmware 2.1||\n"
    "10.77.0.34|oversized|public||Kestrel KX-200|Desk|MFG:Kestrel;MDL:KX-200;\n"
    "10.77.0.35|agent|lab|lab-snmp|Kestrel|KX-100|\n"
    "10.78.0.6|routed|public|routed-snmp|Kestrel|KX-200|\n";
// Past the scanner side, which routes it.
constexpr char kRoutedSubnet[] = "10.78.0.0/24";

const lan::Announcement kBoth = {
    "kxboth", "10.77.0.12", "Both over DNS-SD", {"_uscan._tcp"}, {"mdl=KX-100"}};

class FindOverWsd : public lan::LanSuite {
 protected:
  static void SetUpTestSuite() {
    const std::string work = std::string(KXSANE_E2E_WORK_ROOT) + "/wsd-lan";
    http_log_ = work + "/http.log";
    start_lan(work, [&work](const Lan& lan) {
      std::string error =
          start_wsd_devices(lan, KXSANE_WSD_RESPONDER, work, kDevices, {kElsewhere});
      if (error.empty())
        error = start_snmp_agents(lan, KXSANE_SNMP_RESPONDER, work, kAgents);
      if (error.empty() && lan.admin_shell("ip route add 10.78.0.0/24 via 10.77.0.2").status != 0)
        error = "cannot route the subnet past the scanner side";
      return error.empty() ? lan.announce({kBoth}) : error;
    });
  }

  static std::string http_log() {
    std::ostringstream text;
    text << std::ifstream(http_log_).rdbuf();
    return text.str();
  }

  static inline std::string http_log_;
};

TEST_F(FindOverWsd, ListsEveryScannerOnceAndNothingElse) {
  const struct {
    const char* address;
    const char* name;
    const char* model;  // nullptr: none matched
    std::vector<std::string> services;
  } kExpected[] = {
      {"10.77.0.11", "Front_Desk_reboot_", "KX-200", {"wsd"}},
      {"10.77.0.12", "Both_over_DNS-SD", "KX-100", {"_uscan._tcp", "wsd", "snmp"}},
      {"10.77.0.14", "scanner", nullptr, {"wsd"}},    // never answered the Get
      {"10.77.0.18", "scanner-2", nullptr, {"wsd"}},  // answered too much
      {"10.77.0.31", "snmp-desk", "KX-200", {"snmp"}},
      {"10.77.0.32", "hr-only", "KX-100", {"snmp"}},    // by hrDeviceDescr alone
      {"10.77.0.34", "scanner-3", "KX-200", {"snmp"}},  // values too long or of the wrong type
  };
  const nlohmann::json list = run_json();
  ASSERT_EQ(list.size(), std::size(kExpected)) << list.dump(2);
  for (std::size_t i = 0; i < list.size(); ++i) {
    const auto& e = kExpected[i];
    lan::expect_json_scanner(list[i], e.address, e.name, e.model);
    EXPECT_EQ(list[i]["services"], nlohmann::json(e.services)) << e.address;
  }
  EXPECT_EQ(list[0]["announced"], "Kestrel KX-200");
  EXPECT_EQ(list[6]["announced"], "Kestrel KX-200");
  for (const char* address : {kElsewhere, kForged}) {
    EXPECT_EQ(http_log().find(std::string(address) + "\n"), std::string::npos)
        << address << ": fetched metadata where an answer pointed, not from a device that answered";
  }
}

TEST_F(FindOverWsd, ReportsTheProtocolsThatRan) {
  const std::string kWsdLines =
      "kxsaneconfig4 -a name=Front_Desk_reboot_ model=KX-200 ip=10.77.0.11\n"
      "kxsaneconfig4 -a name=Both_over_WSD model=KX-100 ip=10.77.0.12\n"
      "# no known model at 10.77.0.14, which announces no model\n"
      "# no known model at 10.77.0.18, which announces no model\n";
  const std::string kSnmpLines =
      "kxsaneconfig4 -a name=snmp-desk model=KX-200 ip=10.77.0.31\n"
      "kxsaneconfig4 -a name=hr-only model=KX-100 ip=10.77.0.32\n";
  const std::string kOversized = "kxsaneconfig4 -a name=scanner-3 model=KX-200 ip=10.77.0.34\n";
  const std::string kRouted =
      "kxsaneconfig4 -a name=Routed_WSD model=KX-100 ip=10.78.0.5\n"
      "kxsaneconfig4 -a name=routed-snmp model=KX-200 ip=10.78.0.6\n";
  const struct {
    const char* protocol;
    bool avahi;
    int status;
    const char* over;               // the end of the first line
    std::string lines;              // the lines after it
    const char* err;                // a part of standard error
    std::vector<std::string> more;  // further options
  } kCases[] = {
      {"wsd", true, 0, " s over WS-Discovery\n", kWsdLines, "", {}},
      {"dnssd",
       true,
       0,
       " s over DNS-SD\n",
       "kxsaneconfig4 -a name=Both_over_DNS-SD model=KX-100 ip=10.77.0.12\n",
       "",
       {}},
      {"all",
       false,
       0,
       " s over WS-Discovery and SNMP\n",
       kWsdLines + kSnmpLines + kOversized,
       "; skipped DNS-SD\n",
       {}},
      {"dnssd", false, 1, "", "", "start avahi-daemon", {}},
      {"snmp",
       true,
       0,
       " s over SNMP\n",
       "kxsaneconfig4 -a name=both-snmp model=KX-100 ip=10.77.0.12\n" + kSnmpLines +
           "kxsaneconfig4 -a name=scanner model=KX-200 ip=10.77.0.34\n",
       "",
       {}},
      {"snmp",
       true,
       0,
       " s over SNMP\n",
       "kxsaneconfig4 -a name=lab-snmp model=KX-100 ip=10.77.0.35\n",
       "",
       {"--community", "lab"}},
      // Only what is asked at its own address past the router.
      {"all",
       false,
       0,
       " s over WS-Discovery and SNMP, and at every address of 10.78.0.0/24\n",
       kWsdLines + kSnmpLines + kOversized + kRouted,
       "; skipped DNS-SD\n",
       {"--subnet", kRoutedSubnet}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.protocol) + (c.avahi ? "" : " without Avahi") +
                 (c.more.empty() ? "" : " " + c.more.front()));
    std::vector<std::string> args = {"--protocol", c.protocol, "--timeout", "10"};
    args.insert(args.end(), c.more.begin(), c.more.end());
    const e2e::RunResult result = sandbox_->run(args, on_admin_side(c.avahi));
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    const std::size_t first_end = result.out.find('\n') + 1;
    EXPECT_NE(result.out.substr(0, first_end).find(c.over), std::string::npos) << result.out;
    // The search ends when the answers are in, not at the timeout.
    const std::size_t time = result.out.find(" found in ");
    if (time < first_end) {
      EXPECT_LT(std::atof(result.out.c_str() + time + 10), 5) << result.out;
    }
    EXPECT_EQ(result.out.substr(first_end), c.lines);
  }
}

}  // namespace
}  // namespace kxsane
