#!/usr/bin/env bash
# Times the finder's survey of 2,048 made-up scanners against a table of
# 10,000 models (bench/match_bench.cc): what the finder does between the end
# of the search and the report, and so what it adds to the timeout. Needs no
# network and no root. Target: under 50 ms.
#
# Usage: bench/match_bench.sh [-r RUNS]
#   RUNS  timed runs; the best one counts (default 5)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
runs=5
while getopts r: opt; do
  case $opt in
    r) runs=$OPTARG ;;
    *) sed -n '7,8p' "$0" >&2; exit 2 ;;
  esac
done
build=$here/../build/default
cmake --preset default > /dev/null
cmake --build --preset default -j 2 --target kxsane_match_bench >&2

results=$("$build/tests/kxsane_match_bench" "$runs")
printf '%s\n' "$results"
best=$(printf '%s\n' "$results" | sort -n | head -n 1)
echo "best of $runs: $best (target: under 50 ms)"
