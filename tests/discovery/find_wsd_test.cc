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
#include "discovery/wsd_devices.h"
#include "e2e/sandbox.h"

namespace kxsane {
namespace {

using e2e::RunOptions;
using e2e::Sandbox;
using lan::Lan;
using lan::start_wsd_devices;

constexpr char kModels[] =
    "[Support Model]\n"
    "0x4ab:0x123, 503, 1, \"KX-100\", 1, 2\n"
    "0x4ab:0x124, 503, 1, \"KX-200\", 1, 2\n";

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
    "10.77.0.19|elsewhere=10.77.0.20|Kestrel|KX-100|Elsewhere\n";
// Not a device: where the one at .19 claims its metadata is.
constexpr char kElsewhere[] = "10.77.0.20";

const lan::Announcement kBoth = {
    "kxboth", "10.77.0.12", "Both over DNS-SD", {"_uscan._tcp"}, {"mdl=KX-100"}};

class FindOverWsd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!Sandbox::unavailable_reason().empty() || !Lan::unavailable_reason().empty())
      return;
    const std::string work = std::string(KXSANE_E2E_WORK_ROOT) + "/wsd-lan";
    lan_ = std::make_unique<Lan>(work);
    if (!lan_->error().empty())
      return;
    setup_error_ = start_wsd_devices(*lan_, KXSANE_WSD_RESPONDER, work, kDevices, {kElsewhere});
    if (setup_error_.empty())
      setup_error_ = lan_->announce({kBoth});
    http_log_ = work + "/http.log";
  }
  static void TearDownTestSuite() { lan_.reset(); }

  void SetUp() override {
    KXSANE_REQUIRE_SANDBOX();
    if (!Lan::unavailable_reason().empty())
      GTEST_SKIP() << "LAN test skipped: " << Lan::unavailable_reason();
    ASSERT_EQ(lan_->error(), "");
    ASSERT_EQ(setup_error_, "");
    sandbox_ = std::make_unique<Sandbox>();
    sandbox_->write("models4/kx.ini", kModels);
  }

  // On the admin side; without its Avahi daemon when `avahi` is false (a
  // /run of its own hides the system bus).
  RunOptions on_admin_side(bool avahi = true) const {
    RunOptions options;
    options.enter = lan_->admin_enter();
    if (!avahi) {
      for (const char* arg : {"unshare", "-m", "--propagation", "private", "/bin/sh", "-c",
                              "mount -t tmpfs kxsane-run /run && exec \"$@\"", "sh"})
        options.enter.emplace_back(arg);
    }
    return options;
  }

  static std::string http_log() {
    std::ostringstream text;
    text << std::ifstream(http_log_).rdbuf();
    return text.str();
  }

  static std::unique_ptr<Lan> lan_;
  static std::string setup_error_;
  static std::string http_log_;
  std::unique_ptr<Sandbox> sandbox_;
};

std::unique_ptr<Lan> FindOverWsd::lan_;
std::string FindOverWsd::setup_error_;
std::string FindOverWsd::http_log_;

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
  const e2e::RunResult result = sandbox_->run({"--json"}, on_admin_side());
  EXPECT_EQ(result.status, 0) << result.err;
  const nlohmann::json list = nlohmann::json::parse(result.out);
  ASSERT_EQ(list.size(), std::size(kExpected)) << result.out;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const auto& e = kExpected[i];
    SCOPED_TRACE(e.address);
    EXPECT_EQ(list[i]["address"], e.address);
    EXPECT_EQ(list[i]["name"], e.name);
    EXPECT_EQ(list[i]["model"], e.model ? nlohmann::json(e.model) : nlohmann::json(nullptr));
    EXPECT_EQ(list[i]["services"], nlohmann::json(e.services));
  }
  EXPECT_EQ(list[0]["announced"], "Kestrel KX-200");
  EXPECT_EQ(http_log().find(kElsewhere), std::string::npos)
      << "fetched metadata where an answer pointed, not from the device that answered";
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
