#!/usr/bin/env bash
# Times "kxsanefind4 --timeout 3" against 50 made-up scanners announced over
# DNS-SD (by the scanner side's daemon itself) and 50 more that answer
# WS-Discovery (tests/discovery/wsd_responder.cc)
# on a private LAN of two network namespaces (each side with its own system
# bus and Avahi daemon; tests/discovery/lan.h), and says how many of the 100
# it found. The two protocols run side by side; the finder ends when the
# daemon has reported everything and the WS-Discovery answers are in, not at
# the timeout. Target: all 100, in under 2 s. With -s, that many more answer
# SNMP (tests/discovery/snmp_responder.cc); with -n, that many more are on
# 10.78.0.0/24 past the scanner side, half over WS-Discovery and half over
# SNMP, and the finder searches it with --subnet (target: the /24 in 2 s).
#
# Usage: bench/discovery_bench.sh [-r RUNS] [-t TIMEOUT] [-u UNRESOLVABLE] [-w WSD_SCANNERS]
#                                 [-s SNMP_AGENTS] [-n SUBNET_SCANNERS] [SCANNERS]   (as root)
#   RUNS          timed runs; the best one counts (default 5)
#   TIMEOUT       the finder's --timeout (default 3)
#   UNRESOLVABLE  names announced beside the scanners that never resolve (default 0)
#   WSD_SCANNERS  how many scanners answer WS-Discovery (default 50)
#   SNMP_AGENTS   how many scanners answer SNMP on the link (default 0)
#   SUBNET_SCANNERS  how many scanners are on the subnet past the router (default 0)
#   SCANNERS      how many scanners announce themselves over DNS-SD (default 50)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
runs=5
timeout=3
unresolvable=0
wsd_scanners=50
snmp_agents=0
subnet=0
while getopts r:t:u:w:s:n: opt; do
  case $opt in
    r) runs=$OPTARG ;;
    t) timeout=$OPTARG ;;
    u) unresolvable=$OPTARG ;;
    w) wsd_scanners=$OPTARG ;;
    s) snmp_agents=$OPTARG ;;
    n) subnet=$OPTARG ;;
    *) sed -n '14,22p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
scanners=${1:-50}
build=$here/../build/default
cmake --preset default > /dev/null
cmake --build --preset default -j 2 --target kxsanefind4 kxsane_lan_bench wsd_responder \
  snmp_responder >&2
work=$(cd "$build" && pwd)/bench-discovery
rm -rf "$work"

results=$("$build/tests/kxsane_lan_bench" "$work" "$(cd "$build" && pwd)/kxsanefind4" \
  "$scanners" "$unresolvable" "$timeout" "$runs" "$(cd "$build" && pwd)/tests/wsd_responder" \
  "$wsd_scanners" "$(cd "$build" && pwd)/tests/snmp_responder" "$snmp_agents" "$subnet")
printf '%s\n' "$results"
best=$(printf '%s\n' "$results" | sort -n | head -n 1)
echo "best of $runs: $best (target: all $((scanners + wsd_scanners + snmp_agents + subnet))" \
  "scanners in under 2000 ms)"
