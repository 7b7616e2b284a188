// kxsanefind4 over WS-Discovery, end to end: made-up devices of the test
// responder answer from the scanner side of a private LAN (one of them is
// announced over DNS-SD too), and the real binary finds them from the admin
// side.
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
    "10.77.0.21|forged|Kestrel|KX-100|Forged\n";
// Not a device: where the one at .19 claims its metadata is.
constexpr char kElsewhere[] = "10.77.0.20";
// Not a device either: a host whose address a forged answer gave as its
// source, with its metadata on that host.
constexpr char kForged[] = "10.77.0.21";

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
      {"10.77.0.12", "Both_over_DNS-SD", "KX-100", {"_uscan._tcp", "wsd"}},
      {"10.77.0.14", "scanner", nullptr, {"wsd"}},    // never answered the Get
      {"10.77.0.18", "scanner-2", nullptr, {"wsd"}},  // answered too much
  };
  const nlohmann::json list = run_json();
  ASSERT_EQ(list.size(), std::size(kExpected)) << list.dump(2);
  for (std::size_t i = 0; i < list.size(); ++i) {
    const auto& e = kExpected[i];
    lan::expect_json_scanner(list[i], e.address, e.name, e.model);
    EXPECT_EQ(list[i]["services"], nlohmann::json(e.services)) << e.address;
  }
  EXPECT_EQ(list[0]["announced"], "Kestrel KX-200");
  for (const char* address : {kElsewhere, kForged}) {
    EXPECT_EQ(http_log().find(std::string(address) + "\n"), std::string::npos)
        << address << ": fetched metadata where an answer pointed, not from a device that answered";
  }
}

TEST_F(FindOverWsd, ReportsTheProtocolsThatRan) {
  const char* kWsdLines =
      "kxsaneconfig4 -a name=Front_Desk_reboot_ model=KX-200 ip=10.77.0.11\n"
      "kxsaneconfig4 -a name=Both_over_WSD model=KX-100 ip=10.77.0.12\n"
      "# no known model at 10.77.0.14, which announces no model\n"
      "# no known model at 10.77.0.18, which announces no model\n";
  const struct {
    const char* protocol;
    bool avahi;
    int status;
    const char* over;   // the end of the first line
    const char* lines;  // the lines after it
    const char* err;    // a part of standard error
  } kCases[] = {
      {"wsd", true, 0, " s over WS-Discovery\n", kWsdLines, ""},
      {"dnssd", true, 0, " s over DNS-SD\n",
       "kxsaneconfig4 -a name=Both_over_DNS-SD model=KX-100 ip=10.77.0.12\n", ""},
      {"all", false, 0, " s over WS-Discovery\n", kWsdLines, "; skipped DNS-SD\n"},
      {"dnssd", false, 1, "", "", "start avahi-daemon"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.protocol) + (c.avahi ? "" : " without Avahi"));
    const e2e::RunResult result =
        sandbox_->run({"--protocol", c.protocol, "--timeout", "10"}, on_admin_side(c.avahi));
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
