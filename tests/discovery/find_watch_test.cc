// kxsanefind4 --watch, end to end: the watcher runs on the admin side of a
// private LAN while the scanner side announces, withdraws and moves made-up
// scanners, and the registry must follow.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <thread>

#include "discovery/lan.h"
#include "discovery/lan_suite.h"
#include "discovery/wsd_devices.h"
#include "e2e/sandbox.h"

namespace kxsane {
namespace {

using lan::Announcement;
using lan::Lan;
using Clock = std::chrono::steady_clock;

const Announcement kPresent = {"kxw0", "10.77.1.20", "Present", {"_uscan._tcp"}, {"mdl=KX-100"}};

Announcement scanner(const std::string& host, const std::string& address, const std::string& name) {
  return {host, address, name, {"_uscan._tcp"}, {"mdl=KX-200"}};
}

// Withdraws every record of `host` (its publishers end, saying goodbye).
std::string withdraw(const Lan& lan, const std::string& host) {
  return lan.scanner_shell("pkill -f -- ' " + host + ".local' ; sleep 0.2").status == 0
             ? ""
             : "withdrawing " + host + " failed";
}

std::string read_file(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// Starts the watcher with a NOTIFY_SOCKET of the test's own, mirrors the
// registry into $WORK/registry until $WORK/stop appears, then ends the
// watcher with SIGTERM and lists what is left.
constexpr char kWatchScript[] =
    "python3 -c 'import socket,sys\n"
    "s=socket.socket(socket.AF_UNIX,socket.SOCK_DGRAM);s.bind(sys.argv[1]);s.settimeout(20)\n"
    "print(s.recv(4096).decode(),flush=True)' /run/kxnotify > \"$WORK/ready\" &\n"
    "while [ ! -S /run/kxnotify ]; do sleep 0.01; done\n"
    "NOTIFY_SOCKET=/run/kxnotify \"$KX\" --watch --add --follow --allow 10.77.1.0/24 "
    "--max-new 6 --state \"$WORK/state\" > \"$WORK/log\" 2>&1 & kx=$!\n"
    "while [ ! -e \"$WORK/stop\" ]; do\n"
    "  cp \"$CFG/kxsanenetdevice4.cfg\" \"$WORK/r.tmp\" 2>/dev/null && mv \"$WORK/r.tmp\" "
    "\"$WORK/registry\"; sleep 0.02\n"
    "done\n"
    "kill -TERM $kx; wait $kx; echo \"status $?\"; rm -f /run/kxnotify; ls -A /tmp \"$CFG\"\n";

class WatchOnLan : public lan::LanSuite {
 protected:
  static void SetUpTestSuite() {
    const std::string work = std::string(KXSANE_E2E_WORK_ROOT) + "/watch-lan";
    start_lan(work, [&work](const Lan& lan) {
      const std::string error =
          lan::start_wsd_devices(lan, KXSANE_WSD_RESPONDER, work,
                                 "10.77.1.60|scanner|Kestrel|KX-100|Desk\n"
                                 "10.77.1.61|late|Kestrel|KX-200|Hello\n"
                                 "10.77.1.62|mover=10.77.1.63|Kestrel|KX-200|Roamer\n",
                                 {"10.77.1.63"});
      return error.empty() ? lan.announce({kPresent}) : error;
    });
  }
};

TEST_F(WatchOnLan, RegistersAndFollowsScannersAsTheyComeMoveAndGo) {
  const std::string work = sandbox_->work();
  auto watcher = std::async(std::launch::async,
                            [&] { return sandbox_->shell(kWatchScript, on_admin_side()); });
  const auto wait_until = [&](const std::function<bool()>& done, std::chrono::seconds limit) {
    for (const auto end = Clock::now() + limit; Clock::now() < end;) {
      if (done())
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
  };
  ASSERT_TRUE(wait_until([&] { return read_file(work + "/ready").find("READY=1") == 0; },
                         std::chrono::seconds(10)))
      << read_file(work + "/log");

  const Lan& lan = *lan_;
  const struct {
    const char* what;
    std::function<std::string()> act;  // on the scanner side; "" or what failed
    const char* line;                  // the registry holds it (or, with `absent`, not)
    bool absent;
    const char* log;  // a line of the log, or nullptr
  } kSteps[] = {
      {"present at start", [] { return ""; },
       "DEVICE=Present , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.77.1.20 \n", false, nullptr},
      {"present at start over WS-Discovery", [] { return ""; },
       "DEVICE=Desk , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.77.1.60 \n", false, nullptr},
      {"another present at start over WS-Discovery", [] { return ""; },
       "DEVICE=Roamer , \"KX-200\" , 0x4ab:0x124 , IP-ADDRESS=10.77.1.62 \n", false, nullptr},
      {"a new scanner", [&] { return lan.announce({scanner("kxw1", "10.77.1.21", "Newcomer")}); },
       "DEVICE=Newcomer , \"KX-200\" , 0x4ab:0x124 , IP-ADDRESS=10.77.1.21 \n", false, nullptr},
      {"a WS-Discovery Hello",
       [&] { return lan.scanner_shell("pkill -USR1 -x wsd_responder").status == 0 ? "" : "no"; },
       "DEVICE=Hello , \"KX-200\" , 0x4ab:0x124 , IP-ADDRESS=10.77.1.61 \n", false, nullptr},
      {"outside --allow", [&] { return lan.announce({scanner("kxw2", "10.77.2.22", "Far")}); },
       "DEVICE=Far ", true, "refused 10.77.2.22: "},
      {"one that leaves", [&] { return withdraw(lan, "kxw1"); },
       "DEVICE=Newcomer , \"KX-200\" , 0x4ab:0x124 , IP-ADDRESS=10.77.1.21 \n", false, nullptr},
      {"a move",
       [&] {
         const std::string error = withdraw(lan, "kxw0");
         Announcement moved = kPresent;
         moved.address = "10.77.1.30";
         return error.empty() ? lan.announce({moved}) : error;
       },
       "DEVICE=Present , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.77.1.30 \n", false,
       "moved Present from 10.77.1.20 to 10.77.1.30"},
      {"a move over WS-Discovery",
       [&] { return lan.scanner_shell("pkill -USR2 -x wsd_responder").status == 0 ? "" : "no"; },
       "DEVICE=Roamer , \"KX-200\" , 0x4ab:0x124 , IP-ADDRESS=10.77.1.63 \n", false,
       "moved Roamer from 10.77.1.62 to 10.77.1.63"},
      {"after Avahi restarted on the admin side",
       [&] {
         lan.admin_shell(
             "kill \"$(cat /run/avahi-daemon/pid)\"; while [ -e /run/avahi-daemon/pid ]; do "
             "sleep 0.05; done\navahi-daemon --no-drop-root --no-chroot --no-rlimits -f "
             "\"$KXLAN_WORK/avahi-admin.conf\" > /dev/null 2>&1 &\n"
             "until dbus-send --system --print-reply --dest=org.freedesktop.Avahi / "
             "org.freedesktop.Avahi.Server.GetState 2>/dev/null | grep -q 'int32 2'; do "
             "sleep 0.05; done\n");
         return lan.announce({scanner("kxw5", "10.77.1.25", "Afterwards")});
       },
       "DEVICE=Afterwards , \"KX-200\" , 0x4ab:0x124 , IP-ADDRESS=10.77.1.25 \n", false, nullptr},
      {"a flood past --max-new",
       [&] {
         return lan.announce({scanner("kxf1", "10.77.1.41", "F1"),
                              scanner("kxf2", "10.77.1.42", "F2"),
                              scanner("kxf3", "10.77.1.43", "F3")});
       },
       nullptr, false, "new registrations stop for this hour: 6 made (--max-new)"},
  };
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.what);
    ASSERT_EQ(step.act(), "");
    // From the moment the scanner side's daemon has announced it.
    const auto started = Clock::now();
    const auto holds = [&] {
      const std::string registry = read_file(work + "/registry");
      const bool line =
          step.line == nullptr || (registry.find(step.line) != std::string::npos) != step.absent;
      return line &&
             (step.log == nullptr || read_file(work + "/log").find(step.log) != std::string::npos);
    };
    EXPECT_TRUE(wait_until(holds, std::chrono::seconds(step.absent ? 1 : 2)))
        << read_file(work + "/registry") << read_file(work + "/log");
    std::printf("%s: %.0f ms\n", step.what,
                std::chrono::duration<double, std::milli>(Clock::now() - started).count());
  }
  // Exactly the cap: Present, Desk, Roamer, Newcomer, Hello and Afterwards,
  // none of the flood.
  const std::string registry = read_file(work + "/registry");
  EXPECT_EQ(std::count(registry.begin(), registry.end(), '\n'), 6) << registry;

  std::ofstream(work + "/stop").put('\n');
  const e2e::RunResult result = watcher.get();
  EXPECT_EQ(result.out,
            "status 0\n/etc/opt/kestrel/scanner/kxscan4:\nkxsanenetdevice4.cfg\nmodels4\n\n/tmp:\n")
      << result.err;
  EXPECT_NE(read_file(work + "/state/state.json").find("\"dnssd:kxw0.local\":\"10.77.1.30\""),
            std::string::npos);
}

}  // namespace
}  // namespace kxsane
