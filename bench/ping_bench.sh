#!/usr/bin/env bash
# Times "kxsaneconfig4 -p" over device configuration files of 10,000 and
# 100,000 records without an address (no ping runs), inside a private mount
# namespace with tmpfs over /etc/opt and /tmp. Linear growth means the
# 100,000 run takes at most 12 times the 10,000 run.
# Usage: bench/ping_bench.sh [BUILD_DIR]   (run as root)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
kx=$(bench_path "${1:-$here/../build/default}/kxsaneconfig4")
out=$(bench_path "$here/out/ping" dir)

for n in 10000 100000; do
  awk -v n="$n" 'BEGIN { for (i = 0; i < n; i++) print "x=y" }' > "$out/cfg-$n"
done

in_namespace "$kx" "$out" <<'INNER'
set -euo pipefail
kx=$1 out=$2
best_ms() {  # best wall time of 5 runs of "$kx -p", in milliseconds
  local best=999999999 t0 t1 ms
  for _ in 1 2 3 4 5; do
    t0=$(date +%s%N); "$kx" -p > /dev/null; t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000 ))
    [ "$ms" -lt "$best" ] && best=$ms
  done
  echo "$best"
}
cp "$out/cfg-10000" "$cfg/kxsanenetdevice4.cfg";  small=$(best_ms)
cp "$out/cfg-100000" "$cfg/kxsanenetdevice4.cfg"; large=$(best_ms)
echo "-p, 10,000 records:  ${small} us"
echo "-p, 100,000 records: ${large} us"
awk -v s="$small" -v l="$large" 'BEGIN {
  r = l / s; printf "ratio: %.2f (target: at most 12)\n", r; exit (r <= 12 ? 0 : 1) }'
INNER
