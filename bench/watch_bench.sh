#!/usr/bin/env bash
# Measures "kxsanefind4 --watch --add" on a private LAN of two network
# namespaces (tests/discovery/lan.h): the time from a scanner's DNS-SD
# announcement being established to its line in the registry, RUNS times
# (median and worst), then the watcher's peak memory (VmHWM) and CPU time
# after a flood of FLOOD announcements that the scanner side's daemon makes
# itself. Targets: every announcement registered within 1 s; memory under
# 64 MiB, whatever the flood.
#
# Usage: bench/watch_bench.sh [RUNS [FLOOD]]   (as root; defaults 10 and 10000)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
runs=${1:-10}
flood=${2:-10000}
build=$here/../build/default
cmake --preset default > /dev/null
cmake --build --preset default -j 2 --target kxsanefind4 kxsane_watch_bench >&2
work=$(cd "$build" && pwd)/bench-watch
rm -rf "$work"
mkdir -p "$work"
"$build/tests/kxsane_watch_bench" "$work" "$(cd "$build" && pwd)/kxsanefind4" "$runs" "$flood"
