#!/usr/bin/env bash
# Times the ping sweep of "kxsaneconfig4 -p" and of "-d" (which ends with it)
# over 100 devices with a stub ping that answers after 1 s, against the floor
# of pinging one device after the other (100 s), and "-p" over 10 devices
# with the system's own ping against 127.0.0.1 (each runs its full 10 s
# deadline), inside a private mount namespace with tmpfs over /etc/opt and
# /tmp. Stubs stand in for sane-find-scanner and scanimage. Target: 100 stub
# devices in at most 5 s.
#
# Usage: bench/sweep_bench.sh [-b BINARY] [-r RUNS] [WORK_DIR]   (as root)
#   BINARY    the kxsaneconfig4 to measure (default: build/default of this
#             repository)
#   RUNS      timed runs of each; the best one counts (default 1)
#   WORK_DIR  where the stubs and inputs go (default: build/bench-sweep of
#             this repository; never under /tmp, which the run hides)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
bench_options 1 '10,15p' "$@"
shift $((OPTIND - 1))
work=$(bench_path "${1:-$here/../build/bench-sweep}" dir)

mkdir -p "$work/stubs"
printf '#!/bin/sh\nsleep 1\necho "stub ping: $*"\n' > "$work/stubs/ping"
printf '#!/bin/sh\necho "stub $0"\n' > "$work/stubs/sane-find-scanner"
cp "$work/stubs/sane-find-scanner" "$work/stubs/scanimage"
chmod 755 "$work/stubs/"*
awk 'BEGIN { for (i = 0; i < 100; i++) printf "DEVICE=dev%d , \"M\" , U , IP-ADDRESS=10.0.0.%d \n", i, i }' \
  > "$work/stub.cfg"
awk 'BEGIN { for (i = 0; i < 10; i++) printf "DEVICE=lo%d , \"M\" , U , IP-ADDRESS=127.0.0.1 \n", i }' \
  > "$work/loopback.cfg"
real_ping=$(command -v ping || true)

in_namespace "$binary" "$work" "$runs" "$real_ping" <<'INNER'
set -euo pipefail
kx=$1 work=$2 runs=$3 real_ping=$4
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# Runs "$kx $1" with the device file $2 and ping as found on PATH $3, $runs
# times; prints the best wall time in ms, having checked that every device
# got its ping's reply (standard error, where the probes of -d complain, is
# kept in $work/err).
time_sweep() {
  local best=999999999 t0 t1 replies
  cp "$2" "$cfg/kxsanenetdevice4.cfg"
  for _ in $(seq "$runs"); do
    t0=$(now_ms)
    PATH=$3 "$kx" "$1" > "$work/out" 2> "$work/err"
    t1=$(now_ms)
    replies=$(grep -c -e '^stub ping: ' -e '^--- 127.0.0.1 ping statistics ---$' "$work/out" || true)
    [ "$replies" = "$(wc -l < "$2")" ] || { echo "$1: $replies replies in the output" >&2; exit 1; }
    [ $((t1 - t0)) -lt "$best" ] && best=$((t1 - t0))
  done
  echo "$best"
}

stubbed=$work/stubs:$PATH
p_ms=$(time_sweep -p "$work/stub.cfg" "$stubbed")
d_ms=$(time_sweep -d "$work/stub.cfg" "$stubbed")
printf -- '-p, 100 devices, stub ping of 1 s: %d.%02d s (one at a time: 100 s)\n' \
  $((p_ms / 1000)) $((p_ms % 1000 / 10))
printf -- '-d, 100 devices, stub ping of 1 s: %d.%02d s (one at a time: 100 s)\n' \
  $((d_ms / 1000)) $((d_ms % 1000 / 10))

if [ -n "$real_ping" ]; then
  real_ms=$(time_sweep -p "$work/loopback.cfg" "$PATH")
  printf -- '-p, 10 devices, %s against 127.0.0.1 (-w 10): %d.%02d s (one at a time: 100 s)\n' \
    "$real_ping" $((real_ms / 1000)) $((real_ms % 1000 / 10))
else
  echo "-p with the system's ping: no ping installed (apt-get install -y iputils-ping)"
fi
[ "$p_ms" -le 5000 ] && [ "$d_ms" -le 5000 ] ||
  { echo "target missed: 100 stub devices in at most 5 s" >&2; exit 1; }
INNER
