#!/usr/bin/env bash
# One entry point for building, running and testing on a Debian machine.
#   ./dev.sh run [OPTION...]   install what is missing, build, run kxsaneconfig4 with the options
#   ./dev.sh test              install what is missing, build the default and the sanitizer
#                              presets with warnings as errors, run every test in both
#   ./dev.sh fuzz [SECONDS]    install clang if missing, run every fuzz target for SECONDS each
#   ./dev.sh deps              only install what is missing
set -euo pipefail
cd "$(dirname "$0")"

packages=(g++ cmake make libgtest-dev util-linux mount bash sed coreutils acl strace ansible-core)

install_missing() {
  local missing=()
  for p in "${packages[@]}" "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
}

build() {
  cmake --preset "$1"
  cmake --build --preset "$1" -j "$(nproc)"
}

case "${1:-}" in
  run)
    shift
    install_missing
    build default
    exec build/default/kxsaneconfig4 "$@"
    ;;
  test)
    install_missing
    for preset in default sanitize; do
      build "$preset"
      ctest --preset "$preset"
    done
    ;;
  fuzz)
    install_missing clang libclang-rt-14-dev
    exec fuzz/run.sh "${2:-60}"
    ;;
  deps)
    install_missing
    ;;
  *)
    sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
