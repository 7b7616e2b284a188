// Measures kxsanefind4 --watch on the private test LAN (bench/watch_bench.sh
// runs it): how long a scanner announced over DNS-SD takes to reach the
// registry (RUNS announcements, one after another), then the watcher's peak
// memory and CPU time under a flood of FLOOD announcements made by the
// scanner side's daemon. The watcher runs on the admin side inside a private
// mount namespace with fresh tmpfs over /etc/opt and /tmp.
//
// Usage: kxsane_watch_bench WORK_DIR FINDER RUNS FLOOD
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "discovery/lan.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string read_file(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

bool wait_for(const std::string& path, const std::string& text, std::chrono::seconds limit) {
  for (const auto end = Clock::now() + limit; Clock::now() < end;) {
    if (read_file(path).find(text) != std::string::npos)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s WORK_DIR FINDER RUNS FLOOD\n", argv[0]);
    return 2;
  }
  using kxsane::lan::Lan;
  if (!Lan::unavailable_reason().empty()) {
    std::fprintf(stderr, "no test LAN: %s\n", Lan::unavailable_reason().c_str());
    return 1;
  }
  const std::string work = argv[1];
  const std::string finder = argv[2];
  const int runs = std::atoi(argv[3]);
  const int flood = std::atoi(argv[4]);
  Lan lan(work);
  if (!lan.error().empty()) {
    std::fprintf(stderr, "%s\n", lan.error().c_str());
    return 1;
  }
  // The watcher, and a copy of the registry in the work directory every
  // millisecond, until WORK/stop appears; then its peak memory and CPU time.
  const std::string registry = work + "/registry";
  std::remove((work + "/stop").c_str());
  std::remove(registry.c_str());
  std::remove((work + "/usage").c_str());
  lan.admin_shell(
      "export KXLAN_WORK\nunshare -m --propagation private /bin/sh -c '\n"
      "mount -t tmpfs kxbench-etc /etc/opt && mount -t tmpfs kxbench-tmp /tmp || exit 1\n"
      "cfg=/etc/opt/kestrel/scanner/kxscan4\n"
      "mkdir -p $cfg/models4\n"
      "printf \"[Support Model]\\n0x4ab:0x123, 503, 1, \\\"KX-100\\\", 1, 2\\n\" > "
      "$cfg/models4/kx.ini\n"
      "\"$0\" --watch --add --allow 10.77.0.0/16 --max-new 100000 --state /tmp/state "
      "> \"$KXLAN_WORK/log\" 2>&1 & kx=$!\n"
      "while [ ! -e \"$KXLAN_WORK/stop\" ]; do\n"
      "  cp $cfg/kxsanenetdevice4.cfg \"$KXLAN_WORK/r.tmp\" 2>/dev/null && "
      "mv \"$KXLAN_WORK/r.tmp\" \"$KXLAN_WORK/registry\"; sleep 0.001\n"
      "done\n"
      "grep -E \"VmHWM\" /proc/$kx/status > \"$KXLAN_WORK/usage.tmp\"\n"
      "awk \"{print \\\"cpu \\\" (\\$14 + \\$15) / $(getconf CLK_TCK) \\\" s\\\"}\" /proc/$kx/stat "
      ">> \"$KXLAN_WORK/usage.tmp\"\n"
      "kill -TERM $kx; wait $kx; mv \"$KXLAN_WORK/usage.tmp\" \"$KXLAN_WORK/usage\"\n"
      "' '" +
      finder + "' > /dev/null 2>&1 &\n");
  std::this_thread::sleep_for(std::chrono::seconds(2));

  // From the publisher's established record, and from its start (which
  // includes the daemon's probing for the names, about 0.75 s).
  std::vector<double> latencies;
  std::vector<double> from_start;
  for (int i = 1; i <= runs; ++i) {
    const std::string n = std::to_string(i);
    const auto asked = Clock::now();
    const std::string error = lan.announce(
        {{"watch" + n, "10.77.3." + n, "Watch " + n, {"_uscan._tcp"}, {"mdl=KX-100"}}});
    const auto announced = Clock::now();
    if (!error.empty() ||
        !wait_for(registry, "IP-ADDRESS=10.77.3." + n + " ", std::chrono::seconds(10))) {
      std::fprintf(stderr, "scanner %s not registered: %s\n", n.c_str(), error.c_str());
      return 1;
    }
    const auto registered = Clock::now();
    latencies.push_back(std::chrono::duration<double, std::milli>(registered - announced).count());
    from_start.push_back(std::chrono::duration<double, std::milli>(registered - asked).count());
  }
  std::sort(latencies.begin(), latencies.end());
  std::sort(from_start.begin(), from_start.end());
  if (!latencies.empty()) {
    std::printf(
        "DNS-SD, %d runs: registry line after the record was established: median %.1f ms, max "
        "%.1f ms; after the publisher started: median %.0f ms, max %.0f ms\n",
        runs, latencies[latencies.size() / 2], latencies.back(), from_start[from_start.size() / 2],
        from_start.back());
  }

  if (flood > 0) {
    // A flood of both kinds: FLOOD WS-Discovery Hellos of made-up scan
    // devices, each its own endpoint, to the group, and as many DNS-SD
    // announcements as the scanner side's daemon makes in time (at most
    // 1,000: it establishes no more before the fixture gives up on it).
    const auto started = Clock::now();
    const kxsane::lan::ShellResult sent = lan.scanner_shell(
        "python3 -c '\n"
        "import socket,sys\n"
        "s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
        "s.setsockopt(socket.IPPROTO_IP,socket.IP_MULTICAST_TTL,1)\n"
        "s.setsockopt(socket.IPPROTO_IP,socket.IP_MULTICAST_IF,socket.inet_aton(\"" +
        std::string(kxsane::lan::kScannerAddress) +
        "\"))\n"
        "for i in range(int(sys.argv[1])):\n"
        "  m=(\"<s:Envelope xmlns:s=\\\"http://www.w3.org/2003/05/soap-envelope\\\" "
        "xmlns:a=\\\"http://schemas.xmlsoap.org/ws/2004/08/addressing\\\" "
        "xmlns:d=\\\"http://schemas.xmlsoap.org/ws/2005/04/discovery\\\" "
        "xmlns:sc=\\\"http://schemas.microsoft.com/windows/2006/08/wdp/scan\\\"><s:Body>"
        "<d:Hello><a:EndpointReference><a:Address>urn:uuid:flood-%d</a:Address>"
        "</a:EndpointReference><d:Types>sc:ScanDeviceType</d:Types>"
        "<d:XAddrs>http://10.77.0.2:8080/d</d:XAddrs></d:Hello></s:Body></s:Envelope>\" % i)\n"
        "  s.sendto(m.encode(),(\"239.255.255.250\",3702))\n"
        "' " +
        std::to_string(flood) + "\n");
    const std::string error = lan.announce_in_bulk(std::min(flood, 1000), true);
    // Time for the watcher to take in what the flood told it.
    std::this_thread::sleep_for(std::chrono::seconds(10));
    std::printf("flood of %d Hellos (%s) and %d DNS-SD announcements (%s), %.1f s\n", flood,
                sent.status == 0 ? "sent" : sent.out.c_str(), std::min(flood, 1000),
                error.empty() ? "established" : error.c_str(),
                std::chrono::duration<double>(Clock::now() - started).count());
  }
  std::ofstream(work + "/stop").put('\n');
  for (int i = 0; i < 500 && read_file(work + "/usage").empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::fputs(read_file(work + "/usage").c_str(), stdout);
  const std::string lines = read_file(registry);
  std::printf("registered: %ld\n", static_cast<long>(std::count(lines.begin(), lines.end(), '\n')));
  return 0;
}
