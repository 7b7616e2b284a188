// Times kxsanefind4 against many made-up scanners on the private test LAN
// (bench/discovery_bench.sh runs it). Each run happens on the admin side
// inside a private mount namespace with fresh tmpfs over /etc/opt and /tmp,
// holding only a model description file.
//
// Usage: kxsane_lan_bench WORK_DIR FINDER SCANNERS RUNS [RESPONDER WSD_SCANNERS]
// With RESPONDER (tests/discovery/wsd_responder.cc), WSD_SCANNERS more
// scanners answer WS-Discovery beside the DNS-SD ones. Prints, per run, the
// wall time in milliseconds and how many scanners the finder's first line
// says it found; exits 1 when the LAN cannot be built.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "discovery/lan.h"
#include "discovery/wsd_devices.h"

int main(int argc, char** argv) {
  if (argc != 5 && argc != 7) {
    std::fprintf(stderr, "usage: %s WORK_DIR FINDER SCANNERS RUNS [RESPONDER WSD_SCANNERS]\n",
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
  const int runs = std::atoi(argv[4]);
  Lan lan(argv[1]);
  if (!lan.error().empty()) {
    std::fprintf(stderr, "%s\n", lan.error().c_str());
    return 1;
  }
  std::vector<kxsane::lan::Announcement> announced;
  for (int i = 1; i <= scanners; ++i) {
    const std::string n = std::to_string(i);
    announced.push_back({"bench" + n,
                         "10.77.2." + n,
                         "Bench scanner " + n,
                         {"_uscan._tcp"},
                         {"mdl=KX-100", "ty=Kestrel KX-100"}});
  }
  if (const std::string error = lan.announce(announced); !error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (argc == 7) {
    // On the link, after the side's own address.
    std::string devices;
    for (int i = 1; i <= std::atoi(argv[6]); ++i) {
      const std::string n = std::to_string(i);
      devices +=
          "10.77.0." + std::to_string(100 + i) + "|scanner|Kestrel|KX-100|Bench WSD " + n + "\n";
    }
    if (const std::string error = start_wsd_devices(lan, argv[5], argv[1], devices);
        !error.empty()) {
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
      "\"$0\" --timeout 3 > /tmp/found || exit 1\n"
      "end=$(date +%s%N)\n"
      "echo \"$(( (end - start) / 1000000 )) ms, found: $(head -n 1 /tmp/found)\"\n"
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
