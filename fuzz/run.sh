#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan+UBSan) and runs each for a
# bounded time over a working copy of its seed corpus. Fails on any finding;
# the crashing input is left in build/fuzz/artifacts/.
# Usage: fuzz/run.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz > /dev/null
cmake --build --preset fuzz -j "$(nproc)"
mkdir -p build/fuzz/artifacts
for target in build/fuzz/*_fuzz; do
  name=$(basename "$target" _fuzz)
  work=build/fuzz/corpus-work/$name
  mkdir -p "$work"
  cp -r "fuzz/corpus/$name/." "$work/" 2> /dev/null || true
  echo "== $name: ${seconds}s"
  # -close_fd_mask: the targets print nothing worth keeping.
  set +e
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=1 \
    -artifact_prefix=build/fuzz/artifacts/"$name"- -print_final_stats=1 "$work" 2>&1 |
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)|ERROR|SUMMARY|Test unit written'
  status=${PIPESTATUS[0]}
  set -e
  [ "$status" -eq 0 ] || { echo "fuzz target $name found a fault"; exit 1; }
done
