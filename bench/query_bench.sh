#!/usr/bin/env bash
# Benchmark of "kxsaneconfig4 -q" at two sizes. Large: a model file of
# 10,000 model lines and a device configuration file of 100,000 devices (half
# by IP address, half by node name), against a plain awk script producing the
# same report. Small, what most admins have: 20 model lines and 2 devices,
# timed with hyperfine and measured against /bin/true for peak memory.
#
# Usage: bench/query_bench.sh [-b BINARY] [-r RUNS] [WORK_DIR]
#   BINARY    the kxsaneconfig4 to measure (default: build/models, then
#             build/default of this repository)
#   RUNS      timed runs of each, in turns; the best one counts (default 5)
#   WORK_DIR  where the inputs and outputs go (default: build/bench-query of
#             this repository; never under /tmp, which the run hides)
#
# The runs happen inside a private mount namespace (bench/lib.sh: unshare -m, or -rm
# when not root) with fresh tmpfs mounts over /etc/opt and /tmp, so the
# machine's own configuration is never touched. Targets: on the large inputs
# -q takes at most a quarter of the awk script's time, and its peak memory
# stays under 64 MiB; on the small ones its peak resident set (GNU time's %M)
# is at most 2 MiB above that of /bin/true measured the same way.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
. "$here/lib.sh"
bench_options 5 '5,11p' "$@"
shift $((OPTIND - 1))
work=${1:-$repo/build/bench-query}
work=$(bench_path "$work" dir)

echo "generating inputs in $work"
awk 'BEGIN {
  print "[General]\nVersion=4\n\n[Support Model]\n# ID, TYPE, TYPE parameter, name, RE, WE, CM"
  for (i = 0; i < 10000; i++) {
    if (i % 500 == 0) print "\n# series " int(i / 500)
    printf "  0x04ab:0x%x, %d, %d, \"KX Model %d\", %d, %d, cm%d, gray, color\n", i, 100 + i % 900, i % 7, i, i % 3, i % 5, i % 11
  }
  print "[Options]\nDefault=1"
}' > "$work/Kxsane4.ini"
awk 'BEGIN {
  for (i = 0; i < 100000; i++) {
    name = (i % 3 == 0) ? "scanner-on-floor-" i : "dev" i
    if (i % 2 == 0)
      printf "DEVICE=%s , \"KXModel%d\" , 0x4ab:0x%x , IP-ADDRESS=10.%d.%d.%d \n", name, i % 10000, i % 10000, int(i / 65536), int(i / 256) % 256, i % 256
    else
      printf "DEVICE=%s , \"KXModel%d\" , 0x4ab:0x%x , NODENAME=KXN_%05d \n", name, i % 10000, i % 10000, i
  }
}' > "$work/kxsanenetdevice4.cfg"
cp "$here/query_report.awk" "$work/query_report.awk"
head -n 30 "$work/Kxsane4.ini" > "$work/small.ini"
head -n 2 "$work/kxsanenetdevice4.cfg" > "$work/small.cfg"

# Runs inside the namespace: installs the inputs at the fixed paths, then
# times both reports with query_timer.py.
cat > "$work/inside.sh" <<'INSIDE'
set -eu
work=$1 binary=$2 runs=$3 timer=$4
cp "$work/Kxsane4.ini" "$work/kxsanenetdevice4.cfg" "$cfg/"
# The timer's own peak figure counts the Python process that spawns the
# command; /usr/bin/time forks from a small program and measures closer.
# The least of 5 runs: where the loader maps the libraries moves the
# figure by some 50 KiB from run to run.
peak_kib() {
  if [ -x /usr/bin/time ]; then
    least=
    for _ in 1 2 3 4 5; do
      /usr/bin/time -f '%M' -o "$work/peak" "$@" > /dev/null
      kib=$(cat "$work/peak")
      if [ -z "$least" ] || [ "$kib" -lt "$least" ]; then least=$kib; fi
    done
    echo "$least"
  else
    echo "-"
  fi
}
set -- awk -v devices="$cfg//kxsanenetdevice4.cfg" -f "$work/query_report.awk" "$cfg//Kxsane4.ini"
python3 "$timer" "$runs" kx "$work/kx.out" "$binary" -q -- awk "$work/awk.out" "$@" > "$work/times"
echo "$(grep '^kx ' "$work/times") $(peak_kib "$binary" -q)"
echo "$(grep '^awk ' "$work/times") $(peak_kib "$@")"
cp "$work/small.ini" "$cfg/Kxsane4.ini"
cp "$work/small.cfg" "$cfg/kxsanenetdevice4.cfg"
if command -v hyperfine > /dev/null; then
  hyperfine -N -w 20 -r 500 --export-json "$work/small.json" "$binary -q" > /dev/null 2>&1
  small_ms=$(python3 -c 'import json, sys
r = json.load(open(sys.argv[1]))["results"][0]
print("%.2f %.2f" % (r["median"] * 1000, r["mean"] * 1000))' "$work/small.json")
else
  small_ms="- -"
fi
echo "small $small_ms $(peak_kib "$binary" -q) $(peak_kib /bin/true)"
INSIDE

in_namespace "$work" "$binary" "$runs" "$here/query_timer.py" < "$work/inside.sh" > "$work/figures"

if ! cmp -s "$work/kx.out" "$work/awk.out"; then
  echo "query_bench: the awk report differs from kxsaneconfig4 -q (see $work/kx.out, $work/awk.out)" >&2
  exit 1
fi
awk -v lines="$(wc -l < "$work/kx.out")" '
  $1 == "small" { small_median = $2; small_mean = $3; small_peak = $4; true_peak = $5; next }
  { wall[$1] = $2; cpu[$1] = $3; median[$1] = $5; peak[$1] = $6 != "-" ? $6 : $4 }
  END {
    printf "large: 10,000 models, 100,000 devices\n"
    printf "report lines       %d, identical from both\n", lines
    printf "                   %10s %10s %10s\n", "wall ms", "cpu ms", "peak MiB"
    printf "kxsaneconfig4 -q   %10.1f %10.1f %10.1f\n", wall["kx"], cpu["kx"], peak["kx"] / 1024
    printf "awk script         %10.1f %10.1f %10.1f\n", wall["awk"], cpu["awk"], peak["awk"] / 1024
    printf "ratio              %10.3f %10.3f   (target: at most 0.250, under 64 MiB)\n",
           wall["kx"] / wall["awk"], cpu["kx"] / cpu["awk"]
    printf "median ratio of the runs in turn (wall): %.3f\n", median["kx"]
    ok = wall["kx"] * 4 <= wall["awk"] && peak["kx"] < 64 * 1024
    printf "target (wall time) %s\n", ok ? "met" : "NOT met"
    printf "small: 20 models, 2 devices\n"
    printf "kxsaneconfig4 -q   %s ms median, %s ms mean (hyperfine)\n", small_median, small_mean
    if (small_peak == "-" || true_peak == "-") {
      printf "peak               - (no GNU time)\n"
    } else {
      printf "peak               %.2f MiB, /bin/true %.2f MiB: %.2f MiB above (target: at most 2)\n",
             small_peak / 1024, true_peak / 1024, (small_peak - true_peak) / 1024
      small_ok = small_peak - true_peak <= 2048
      printf "target (peak)      %s\n", small_ok ? "met" : "NOT met"
      ok = ok && small_ok
    }
    exit ok ? 0 : 1
  }' "$work/figures"
