#!/usr/bin/env bash
# One entry point for building, running and testing on a Debian machine. Each
# command installs the Debian packages it needs and says which; what it builds
# and runs is shown step by step on standard error.
#   ./dev.sh demo              build kxsaneconfig4 and kxsanefind4 and play a short
#                              session with the example model file in a private
#                              mount namespace, with a search on a private LAN of
#                              made-up scanners (as root)
#   ./dev.sh run [OPTION...]   build kxsaneconfig4 and run it with the options
#   ./dev.sh test              build the default preset (warnings as errors) and run
#                              its tests side by side
#   ./dev.sh sanitize          the same with AddressSanitizer and UBSan (CI)
#   ./dev.sh release [CXX]     build and test a plain Release build, as a packager
#                              configures it (plus warnings as errors), with the
#                              compiler CXX (default g++) (CI)
#   ./dev.sh fuzz [SECONDS]    run every fuzz target for SECONDS each (CI)
#   ./dev.sh package [DIR]     build the Debian package with dpkg-buildpackage from a
#                              copy of the sources in DIR (default build/deb); prints
#                              only the package's path on standard output
#   ./dev.sh rpm               build the RPM package with rpmbuild; prints only the
#                              package's path on standard output
#   ./dev.sh deps              only install what the build needs
set -euo pipefail
cd "$(dirname "$0")"

packages=(g++ cmake make libgtest-dev util-linux mount bash sed coreutils libavahi-client-dev nlohmann-json3-dev
  libpugixml-dev libcurl4-openssl-dev libsnmp-dev libsystemd-dev)
# The private LAN of network namespaces that the discovery tests and the demo
# build.
lan_packages=(avahi-daemon avahi-utils dbus-daemon iproute2)
# What only the tests need: ACLs, system-call traces, the Ansible collection's
# playbooks and unit tests, and the LAN.
test_packages=(acl strace ansible-core git python3-pytest python3-pytest-xdist python3-pytest-forked
  "${lan_packages[@]}")
deb_packages=(build-essential debhelper dpkg-dev lintian)
rpm_packages=(rpm rpmlint)
config_dir=/etc/opt/kestrel/scanner/kxscan4

# Progress lines, with the time since the start, go to standard error, so
# that standard output holds only what the programs print (./dev.sh run -q >
# report.txt, ./dev.sh package).
step() {
  printf '\n== dev.sh [%d:%02d] %s\n' $((SECONDS / 60)) $((SECONDS % 60)) "$*" >&2
}

install_missing() {
  local missing=()
  for p in "${packages[@]}" "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "dev.sh: the Debian packages needed are installed" >&2
    return 0
  fi
  step "installing ${missing[*]}"
  local as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update >&2
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}" >&2
}

# Configures and builds a preset; further arguments name the only targets to
# build.
build() {
  local preset=$1 targets=()
  shift
  [ $# -eq 0 ] || targets=(--target "$@")
  step "configuring the $preset preset"
  cmake --preset "$preset" >&2
  step "building ${*:-everything} in build/$preset with $(nproc) jobs"
  cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}" >&2
}

# Runs a preset's tests side by side, one line per test as each ends.
run_tests() {
  step "running the tests of build/$1, $(nproc) at a time"
  ctest --preset "$1" -j "$(nproc)"
  step "done"
}

# The version the packages get: debian/changelog's.
version() {
  dpkg-parsechangelog -S Version
}

# Who builds the packages: debian/control's maintainer.
maintainer() {
  sed -n 's/^Maintainer: //p' debian/control
}

# Copies the sources (what git tracks, with the changes in the working tree)
# to $1, without any build tree.
copy_sources() {
  rm -rf "$1"
  mkdir -p "$1"
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xf - -C "$1"
  else
    tar --exclude=./build -cf - . | tar -xf - -C "$1"
  fi
}

# Builds the binary Debian package from a fresh copy of the sources below $1,
# as a distribution's builder does; prints the package's path.
build_deb() {
  local dir src
  dir=$(realpath -m "$1")
  src=$dir/kxsaneconfig4-$(version)
  step "building the Debian package in $src (dpkg-buildpackage -us -uc -b)"
  copy_sources "$src"
  (cd "$src" && dpkg-buildpackage -us -uc -b) >&2
  echo "$dir/kxsaneconfig4_$(version)_$(dpkg-architecture -qDEB_HOST_ARCH).deb"
}

# Builds the binary RPM package from a source tarball of the sources, in
# build/rpm; prints the package's path.
build_rpm() {
  local top=$PWD/build/rpm name
  name=kxsaneconfig4-$(version)
  step "building the RPM package in $top (rpmbuild -bb)"
  rm -rf "$top"
  mkdir -p "$top/SOURCES"
  copy_sources "$top/$name"
  tar -C "$top" --sort=name --owner=0 --group=0 --numeric-owner -czf "$top/SOURCES/$name.tar.gz" "$name"
  rm -rf "${top:?}/$name"
  # The build requirements are Debian packages here, which rpm does not know:
  # install_missing has checked them.
  mkdir -p "$top/tmp"
  rpmbuild -bb --nodeps --define "_topdir $top" --define "_tmppath $top/tmp" \
    --define "_smp_build_ncpus $(nproc)" --define "packager $(maintainer)" \
    packaging/rpm/kxsaneconfig4.spec >&2
  find "$top/RPMS" -name 'kxsaneconfig4-[0-9]*.rpm'
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
    # Without the LAN's packages the demo still plays the rest, and says why.
    install_missing "${lan_packages[@]}" || {
      echo "dev.sh: could not install ${lan_packages[*]}; the demo leaves out its search" >&2
      install_missing
    }
    build default kxsaneconfig4 kxsanefind4 wsd_responder
    step "playing the demo"
    exec examples/demo.sh build/default/kxsaneconfig4 build/default/kxsanefind4 \
      build/default/tests/wsd_responder
    ;;
  run)
    shift
    install_missing
    build default kxsaneconfig4
    explain_missing_configuration
    exec build/default/kxsaneconfig4 "$@"
    ;;
  test | sanitize)
    preset=$([ "$1" = test ] && echo default || echo sanitize)
    install_missing "${test_packages[@]}"
    build "$preset"
    run_tests "$preset"
    ;;
  release)
    cxx=${2:-g++}
    install_missing "${test_packages[@]}" "$([ "$cxx" = g++ ] && echo g++ || echo clang)"
    tree=build/release-$cxx
    step "configuring a plain Release build with $cxx in $tree"
    cmake -S . -B "$tree" --fresh -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" \
      -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >&2
    step "building $tree with $(nproc) jobs"
    cmake --build "$tree" -j "$(nproc)" >&2
    step "running the tests of $tree, $(nproc) at a time"
    # KXSANE_CTEST_EXCLUDE: a regular expression of tests left out (CI leaves
    # out what does not depend on the compiler and runs in its other stages).
    ctest --test-dir "$tree" -j "$(nproc)" --output-on-failure --no-tests=error \
      ${KXSANE_CTEST_EXCLUDE:+-E "$KXSANE_CTEST_EXCLUDE"}
    ;;
  package)
    install_missing "${deb_packages[@]}"
    build_deb "${2:-build/deb}"
    ;;
  rpm)
    install_missing "${deb_packages[@]}" "${rpm_packages[@]}"
    build_rpm
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
