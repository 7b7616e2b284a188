#!/usr/bin/env bash
# One entry point for building, running and testing on a Debian machine.
#   ./dev.sh demo              install what is missing, build kxsaneconfig4, play a short session
#                              with the example model file in a private mount namespace
#   ./dev.sh run [OPTION...]   install what is missing, build kxsaneconfig4, run it with the options
#   ./dev.sh test              install what is missing, build the default and the sanitizer
#                              presets with warnings as errors, run every test in both
#   ./dev.sh release [CXX]     build and test a plain Release build, as a packager configures it
#                              (plus warnings as errors), with the compiler CXX (default g++)
#   ./dev.sh package [-DVAR=VALUE...]
#                              build the Debian package with dpkg-buildflags' hardening flags,
#                              configured with the given cache variables too
#   ./dev.sh fuzz [SECONDS]    install clang if missing, run every fuzz target for SECONDS each
#   ./dev.sh deps              only install what is missing
set -euo pipefail
cd "$(dirname "$0")"

packages=(g++ cmake make libgtest-dev util-linux mount bash sed coreutils libavahi-client-dev nlohmann-json3-dev
  libpugixml-dev libcurl4-openssl-dev)
# What only the tests need: ACLs, system-call traces, the Ansible collection's
# playbooks and unit tests, and the private LAN of the discovery tests.
test_packages=(acl strace ansible-core git python3-pytest python3-pytest-xdist python3-pytest-forked
  avahi-daemon avahi-utils dbus-daemon iproute2)
config_dir=/etc/opt/kestrel/scanner/kxscan4

install_missing() {
  local missing=()
  for p in "${packages[@]}" "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# Configures and builds a preset; further arguments name the only targets to
# build. What the build prints goes to standard error, so that standard output
# holds only what the programs print (./dev.sh run -q > report.txt).
build() {
  local preset=$1 targets=()
  shift
  [ $# -eq 0 ] || targets=(--target "$@")
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}" >&2
}

# Says on standard error why -q will show nothing and -a cannot register.
explain_missing_configuration() {
  if [ ! -d "$config_dir" ]; then
    printf '%s\n' "dev.sh: $config_dir/ does not exist, so there are no model" \
      "description files, and -a cannot register anything. Install the package (README," \
      "Install), or see the tool at work with ./dev.sh demo." >&2
  elif ! compgen -G "$config_dir/models4/*.ini" >/dev/null && [ ! -f "$config_dir/Kxsane4.ini" ]; then
    printf '%s\n' "dev.sh: no model description file in $config_dir/: -q lists no" \
      "model, and -a registers every model as Unknown (examples/kx-example.ini is one to try)." >&2
  fi
}

case "${1:-}" in
  demo)
    install_missing
    build default kxsaneconfig4
    exec examples/demo.sh build/default/kxsaneconfig4
    ;;
  run)
    shift
    install_missing
    build default kxsaneconfig4
    explain_missing_configuration
    exec build/default/kxsaneconfig4 "$@"
    ;;
  test)
    install_missing "${test_packages[@]}"
    for preset in default sanitize; do
      build "$preset"
      ctest --preset "$preset"
    done
    ;;
  release)
    cxx=${2:-g++}
    install_missing "${test_packages[@]}" "$([ "$cxx" = g++ ] && echo g++ || echo clang)"
    tree=build/release-$cxx
    cmake -S . -B "$tree" --fresh -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" \
      -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
    cmake --build "$tree" -j "$(nproc)"
    ctest --test-dir "$tree" -j "$(nproc)" --output-on-failure --no-tests=error
    ;;
  package)
    install_missing dpkg-dev file gzip
    # The flags a Debian package is built with, every hardening feature on;
    # the package preset reads them afresh each time.
    eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
    cmake --preset package --fresh "${@:2}" >/dev/null
    cmake --build --preset package -j "$(nproc)"
    rm -rf build/package/deb
    (cd build/package && cpack -G DEB -B "$PWD/deb") >/dev/null
    echo build/package/deb/kxsaneconfig4_*.deb
    ;;
  fuzz)
    install_missing clang libclang-rt-14-dev
    exec fuzz/run.sh "${2:-60}"
    ;;
  deps)
    install_missing
    ;;
  *)
    sed -n '2,/^set /s/^# \{0,1\}//p' "$0" >&2
    exit 2
    ;;
esac
