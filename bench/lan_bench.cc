// Times kxsanefind4 against many made-up scanners on the private test LAN
// (bench/discovery_bench.sh runs it). Each run happens on the admin side
// inside a private mount namespace with fresh tmpfs over /etc/opt and /tmp,
// holding only a model description file.
//
// Usage: kxsane_lan_bench WORK_DIR FINDER SCANNERS UNRESOLVABLE TIMEOUT RUNS
//                         [RESPONDER WSD_SCANNERS [SNMP_RESPONDER SNMP_AGENTS SUBNET]]
// The scanner side's daemon announces SCANNERS scanners itself; with
// UNRESOLVABLE above 0 it announces that many names that never resolve
// instead, and the SCANNERS scanners are announced by publishers of their
// own beside them. With RESPONDER (tests/discovery/wsd_responder.cc),
// WSD_SCANNERS more scanners answer WS-Discovery. With SNMP_RESPONDER
// (tests/discovery/snmp_responder.cc), SNMP_AGENTS more answer SNMP on the
// link, and SUBNET scanners (half over WS-Discovery, half over SNMP) are on
// 10.78.0.0/24 past the scanner side, which the finder is then asked to
// search with --subnet. Prints, per run of
// "kxsanefind4 --timeout TIMEOUT", the wall time in milliseconds and how many
// scanners the finder's first line says it found and the start of standard error; exits 1 when the
// LAN cannot be built.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "discovery/lan.h"
#include "discovery/wsd_devices.h"

int main(int argc, char** argv) {
  if (argc != 7 && argc != 9 && argc != 12) {
    std::fprintf(stderr,
                 "usage: %s WORK_DIR FINDER SCANNERS UNRESOLVABLE TIMEOUT RUNS "
                 "[RESPONDER WSD_SCANNERS [SNMP_RESPONDER SNMP_AGENTS SUBNET]]\n",
                 argv[0]);
    return 2;
  }
  using kxsane::lan::Lan;
  if (!Lan::unavailable_reason().empty()) {
    std::fprintf(stderr, "no test LAN: %s\n", Lan::unavailable_reason().c_str());
    return 1;
  }
  const std::string finder = argv[2];
  const int scanners = std::atoi(argv[3]);
  const int unresolvable = std::atoi(argv[4]);
  const std::string timeout = argv[5];
  const int runs = std::atoi(argv[6]);
  Lan lan(argv[1]);
  if (!lan.error().empty()) {
    std::fprintf(stderr, "%s\n", lan.error().c_str());
    return 1;
  }
  std::string error;
  if (unresolvable > 0) {
    std::vector<kxsane::lan::Announcement> announced;
    for (int i = 1; i <= scanners; ++i) {
      const std::string n = std::to_string(i);
      announced.push_back(
          {"bench" + n, "10.77.9." + n, "Bench scanner " + n, {"_uscan._tcp"}, {"mdl=KX-100"}});
    }
    error = lan.announce(announced);
  }
  if (error.empty())
    error = unresolvable > 0 ? lan.announce_in_bulk(unresolvable, false)
                             : lan.announce_in_bulk(scanners, true);
  if (!error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const int subnet = argc == 12 ? std::atoi(argv[11]) : 0;
  if (argc >= 9) {
    // On the link, after the side's own address; past the router, on
    // 10.78.0.0/24.
    std::string devices;
    for (int i = 1; i <= std::atoi(argv[8]); ++i) {
      const std::string n = std::to_string(i);
      devices +=
          "10.77.0." + std::to_string(100 + i) + "|scanner|Kestrel|KX-100|Bench WSD " + n + "\n";
    }
    std::string agents;
    for (int i = 1; argc == 12 && i <= std::atoi(argv[10]); ++i) {
      agents += "10.77.3." + std::to_string(i) + "|agent|public|bench-snmp-" + std::to_string(i) +
                "|Kestrel|KX-100|MFG:Kestrel;MDL:KX-100;\n";
    }
    for (int i = 1; i <= subnet; ++i) {
      const std::string address = "10.78.0." + std::to_string(10 + i);
      if (i % 2 == 1) {
        devices += address + "|routed|Kestrel|KX-100|Routed " + std::to_string(i) + "\n";
      } else {
        agents += address + "|routed|public|routed-" + std::to_string(i) + "|Kestrel|KX-100|\n";
      }
    }
    error = start_wsd_devices(lan, argv[7], argv[1], devices);
    if (error.empty() && !agents.empty())
      error = start_snmp_agents(lan, argv[9], argv[1], agents);
    if (error.empty() && subnet > 0 &&
        lan.admin_shell("ip route add 10.78.0.0/24 via 10.77.0.2").status != 0)
      error = "cannot route 10.78.0.0/24";
    if (!error.empty()) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }
  const std::string script =
      "unshare -m --propagation private /bin/sh -c '\n"
      "mount -t tmpfs kxbench-etc /etc/opt && mount -t tmpfs kxbench-tmp /tmp || exit 1\n"
      "mkdir -p /etc/opt/kestrel/scanner/kxscan4/models4\n"
      "printf \"[Support Model]\\n0x4ab:0x123, 503, 1, \\\"KX-100\\\", 1, 2\\n\" "
      "> /etc/opt/kestrel/scanner/kxscan4/models4/kx.ini\n"
      "start=$(date +%s%N)\n"
      "\"$0\" --timeout " +
      timeout + (subnet > 0 ? " --subnet 10.78.0.0/24" : "") +
      " > /tmp/found 2> /tmp/err; status=$?\n"
      "end=$(date +%s%N)\n"
      "echo \"$(( (end - start) / 1000000 )) ms, exit $status, found: $(head -n 1 /tmp/found)\""
      " $(head -c 200 /tmp/err)\n"
      "' '" +
      finder + "'\n";
  for (int run = 0; run < runs; ++run) {
    const kxsane::lan::ShellResult result = lan.admin_shell(script);
    std::fputs(result.out.c_str(), stdout);
    if (result.status != 0)
      return 1;
  }
  return 0;
}
