# Shared by the benchmarks (sourced): where the binary and the inputs may lie,
# and the private mount namespace every timed run happens in, so that the
# machine's own /etc/opt and /tmp are never touched.

# Prints the absolute path of $1 (a directory, made if missing, when $2 is
# "dir"); refuses a path under /tmp, which the namespace hides.
bench_path() {
  local path=$1
  if [ "${2:-}" = dir ]; then
    mkdir -p "$path"
    path=$(cd "$path" && pwd)
  else
    path=$(cd "$(dirname "$path")" && pwd)/$(basename "$path")
  fi
  case "$path/" in
    /tmp/*) echo "$0: $path is under /tmp, which the benchmark's namespace hides" >&2; return 2 ;;
  esac
  printf '%s\n' "$path"
}

# Reads the options -b BINARY and -r RUNS from the arguments after the first
# two: the default number of runs, and the sed range of the script's usage
# text. Sets $binary (default: build/default/kxsaneconfig4, absolute and
# checked) and $runs; the caller shifts by OPTIND - 1.
bench_options() {
  runs=$1
  local usage=$2 opt
  shift 2
  binary=$(dirname "$(dirname "${BASH_SOURCE[0]}")")/build/default/kxsaneconfig4
  while getopts b:r: opt; do
    case $opt in
      b) binary=$OPTARG ;;
      r) runs=$OPTARG ;;
      *) sed -n "$usage" "$0" >&2; exit 2 ;;
    esac
  done
  [ -x "$binary" ] || { echo "$0: no kxsaneconfig4 at $binary; build first or pass -b" >&2; exit 2; }
  binary=$(bench_path "$binary")
}

# Runs the bash script read from standard input in a private mount namespace
# with fresh tmpfs over /etc/opt and /tmp and an empty configuration
# directory, which the script finds in $cfg; arguments are passed on.
# Needs root (or, failing that, a user namespace).
in_namespace() {
  local unshare=(unshare -m --propagation private)
  [ "$(id -u)" = 0 ] || unshare=(unshare -r -m --propagation private)
  "${unshare[@]}" /bin/bash -c '
    mount -t tmpfs -o mode=0755 kxsane-bench-etc /etc/opt &&
      mount -t tmpfs -o mode=1777 kxsane-bench-tmp /tmp &&
      mkdir -p /etc/opt/kestrel/scanner/kxscan4 || exit 1
    export cfg=/etc/opt/kestrel/scanner/kxscan4
    exec /bin/bash -s "$@"' in_namespace "$@"
}
