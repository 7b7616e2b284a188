#!/usr/bin/env bash
# Times "kxsaneconfig4 -r NAME" on a registry of 100,000 devices beside the
# bare shell pipeline it is built on, in the same run:
#   cat cfg | sed s/'DEVICE=NAME .*$'// | uniq > out
# Both run inside a private mount namespace with fresh tmpfs mounts over
# /etc/opt and /tmp, so the machine's own configuration is never touched; the
# registry is copied into place before every timed run. The tool runs its
# pipelines in the C locale, so the floor is timed in it too (and, for
# reference, in the caller's locale). Target: -r takes at most 1.5 times the
# floor. Both results are compared byte for byte.
#
# Usage: bench/remove_bench.sh [-b BINARY] [-r RUNS] [WORK_DIR]   (as root)
#   BINARY    the kxsaneconfig4 to measure (default: build/remove, then
#             build/default of this repository)
#   RUNS      timed runs of each; the best one counts (default 7)
#   WORK_DIR  where the inputs go (default: build/bench-remove of this
#             repository; never under /tmp, which the run hides)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
. "$here/lib.sh"
bench_options 7 '12,17p' "$@"
shift $((OPTIND - 1))
work=${1:-$repo/build/bench-remove}
work=$(bench_path "$work" dir)

name=dev50000
awk 'BEGIN {
  for (i = 0; i < 100000; i++) {
    if (i % 2 == 0)
      printf "DEVICE=dev%d , \"KX Model %d\" , 0x4ab:0x%x , IP-ADDRESS=10.%d.%d.%d \n", i, i % 10000, i % 10000, int(i / 65536), int(i / 256) % 256, i % 256
    else
      printf "DEVICE=dev%d , \"KX Model %d\" , 0x4ab:0x%x , NODENAME=KXN_%05d \n", i, i % 10000, i % 10000, i
  }
}' > "$work/kxsanenetdevice4.cfg"
echo "registry: $(wc -l < "$work/kxsanenetdevice4.cfg") lines, $(wc -c < "$work/kxsanenetdevice4.cfg") bytes; removing $name"

in_namespace "$binary" "$work" "$runs" "$name" <<'INSIDE'
set -euo pipefail
kx=$1 work=$2 runs=$3 name=$4
registry=$cfg/kxsanenetdevice4.cfg
floor_out=$cfg/floor.out
floor="cat $registry | sed s/'DEVICE=$name .*\$'// | uniq > $floor_out"

now_us() { echo $(( $(date +%s%N) / 1000 )); }
best_tool=999999999 best_floor=999999999 best_floor_locale=999999999
for _ in $(seq "$runs"); do
  cp "$work/kxsanenetdevice4.cfg" "$registry"
  t0=$(now_us); "$kx" -r "$name"; t1=$(now_us)
  [ $((t1 - t0)) -lt "$best_tool" ] && best_tool=$((t1 - t0))
  cp "$registry" "$work/tool.out"

  cp "$work/kxsanenetdevice4.cfg" "$registry"
  t0=$(now_us); LC_ALL=C /bin/bash -c "$floor"; t1=$(now_us)
  [ $((t1 - t0)) -lt "$best_floor" ] && best_floor=$((t1 - t0))

  t0=$(now_us); /bin/bash -c "$floor"; t1=$(now_us)
  [ $((t1 - t0)) -lt "$best_floor_locale" ] && best_floor_locale=$((t1 - t0))
done
cmp -s "$work/tool.out" "$floor_out" || { echo "remove_bench: -r and the floor differ" >&2; exit 1; }
[ -z "$(ls -A /tmp)" ] || { echo "remove_bench: -r left files in /tmp" >&2; exit 1; }
rm -f "$work/tool.out"
echo "best of $runs runs:"
printf '  %-36s %9d us\n' "-r $name" "$best_tool" \
  "floor, LC_ALL=C" "$best_floor" "floor, locale ${LC_ALL:-${LANG:-unset}} (reference)" \
  "$best_floor_locale"
awk -v t="$best_tool" -v f="$best_floor" 'BEGIN {
  r = t / f; printf "ratio: %.2f (target: at most 1.5)\n", r; exit (r <= 1.5 ? 0 : 1) }'
INSIDE
