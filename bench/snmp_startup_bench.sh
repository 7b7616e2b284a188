#!/usr/bin/env bash
# What net-snmp's library costs a one-shot finder: the CPU time of one run of
# four tiny programs (least of three rounds of RUNS runs):
#   curl            links libcurl only (what kxsanefind4 loads anyway)
#   curl+snmp       links libcurl and libnetsnmp, builds nothing
#   encoder         libnetsnmp's encoder alone, the library never initialised
#                   (what the finder does)
#   init_snmp       the same after init_snmp() with configuration files off
# init_snmp creates /var/lib/snmp/cert_indexes, so every run happens in a
# private mount namespace with a tmpfs over /var/lib (and /tmp).
#
# Usage: bench/snmp_startup_bench.sh [-r RUNS]   (as root; needs libsnmp-dev)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
runs=200
while getopts r: opt; do
  case $opt in
    r) runs=$OPTARG ;;
    *) sed -n '12p' "$0" >&2; exit 2 ;;
  esac
done
work=$here/../build/bench-snmp-startup
mkdir -p "$work"
cat > "$work/probe.cc" <<'CC'
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <cstdlib>
#include <cstring>
int main(int argc, char** argv) {
  if (argc < 2) return 0;
  if (std::strcmp(argv[1], "init") == 0) {
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    init_snmp("probe");
  }
  netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GET);
  oid name[] = {1, 3, 6, 1, 2, 1, 1, 5, 0};
  snmp_add_null_var(pdu, name, 9);
  netsnmp_session session;
  snmp_sess_init(&session);
  session.version = SNMP_VERSION_2c;
  session.community = reinterpret_cast<u_char*>(const_cast<char*>("public"));
  session.community_len = 6;
  size_t size = 1024, length = 0;
  auto* buffer = static_cast<u_char*>(std::malloc(size));
  const int status = snmp_build(&buffer, &size, &length, &session, pdu);
  std::free(buffer);
  snmp_free_pdu(pdu);
  return status;
}
CC
echo 'int main() { return 0; }' > "$work/empty.cc"
g++ -O2 -o "$work/curl" "$work/empty.cc" -Wl,--no-as-needed -lcurl
g++ -O2 -o "$work/curl_snmp" "$work/empty.cc" -Wl,--no-as-needed -lcurl -lnetsnmp
g++ -O2 -o "$work/probe" "$work/probe.cc" -Wl,--no-as-needed -lcurl -lnetsnmp

unshare -m --propagation private /bin/bash -s "$work" "$runs" <<'SH'
set -eu
mount -t tmpfs kxbench-varlib /var/lib && mount -t tmpfs kxbench-tmp /tmp
# The least CPU time (user and system) one run took on average, over
# three rounds of $1 runs: less at the mercy of other work on the machine
# than wall time.
cpu() {
  local least=999999999 round used
  for round in 1 2 3; do
    used=$( { TIMEFORMAT='%3U %3S'; time for ((i = 0; i < $1; i++)); do
      "${@:2}" > /dev/null 2>&1 || true; done; } 2>&1 | awk -v n="$1" '{ printf "%d", ($1 + $2) * 1e6 / n }')
    (( used < least )) && least=$used
  done
  echo "$least"
}
printf '%-10s %6s us CPU\n' curl "$(cpu "$2" "$1/curl")" curl+snmp "$(cpu "$2" "$1/curl_snmp")" \
  encoder "$(cpu "$2" "$1/probe" build)" init_snmp "$(cpu "$2" "$1/probe" init)"
SH
