#!/usr/bin/env bash
# Plays a short session with kxsaneconfig4 and the example model description
# file kx-example.ini, printing each command before its output.
#
# Usage: examples/demo.sh KXSANECONFIG4
#
# The session runs inside a private mount namespace with fresh tmpfs mounts
# over /etc/opt and /tmp, so the machine's own configuration directory and
# /tmp are never read or changed, and everything is gone when it ends. It
# needs root (unshare -m) or, as another user, a kernel that allows user
# namespaces (unshare -rm). No command of the session sends anything over the
# network.
set -euo pipefail

[ $# -eq 1 ] && [ -x "$1" ] || {
  sed -n '5p' "$0" | sed 's/^# //' >&2
  exit 2
}
binary=$(realpath "$1")
model_file=$(cd "$(dirname "$0")" && pwd)/kx-example.ini

unshare=(unshare -m --propagation private)
[ "$(id -u)" -eq 0 ] || unshare=(unshare -r -m --propagation private)
if ! "${unshare[@]}" true 2>/dev/null; then
  echo "$0: cannot make a private mount namespace (${unshare[*]}): run as root," \
    "or allow user namespaces" >&2
  exit 1
fi

# The session itself, in the namespace. The program and the model file are
# opened first (descriptors 3 and 4), as they may lie under /tmp, which the
# namespace covers.
read -r -d '' session <<'SESSION' || true
set -euo pipefail
cfg=/etc/opt/kestrel/scanner/kxscan4

# A machine without /etc/opt gets one in here only: an overlay of /etc whose
# changes go to a tmpfs, which the fresh /tmp mount below then hides.
if [ ! -d /etc/opt ]; then
  mount -t tmpfs -o mode=0700 kxsane-demo-etc /tmp
  mkdir /tmp/upper /tmp/work
  mount -t overlay -o lowerdir=/etc,upperdir=/tmp/upper,workdir=/tmp/work kxsane-demo-etc /etc
  mkdir -m 0755 /etc/opt
fi
mount -t tmpfs -o mode=0755 kxsane-demo-etc-opt /etc/opt
mount -t tmpfs -o mode=1777 kxsane-demo-tmp /tmp

# The configuration directory as the package makes it, with the example model
# file; the program lies beside it, outside the configuration directory.
mkdir -p -m 0755 "$cfg/models4" /etc/opt/kxsane-demo
cat <&4 >"$cfg/models4/kx-example.ini"
cat <&3 >/etc/opt/kxsane-demo/kxsaneconfig4
chmod 0755 /etc/opt/kxsane-demo/kxsaneconfig4
exec 3<&- 4<&-
PATH=/etc/opt/kxsane-demo:$PATH

show() {
  printf '\n# %s\n' "$*"
  "$@"
}
say() {
  printf '\n'
  printf '%s\n' "$@"
}

say "kxsaneconfig4 in a private mount namespace: /etc/opt and /tmp are fresh tmpfs" \
  "mounts in here, with the example model file kx-example.ini in models4/."
show cd "$cfg"
show ls -R
say "The supported models (from the model description files), and no scanner yet:"
show kxsaneconfig4 -q
say "Register two scanners, by IPv4 address and by node name, and a third one" \
  "under a name that is taken:"
show kxsaneconfig4 -a name=office model=KX-100 ip=192.0.2.10
show kxsaneconfig4 -a name=lab model=KX-200F nodename=KXN_00012
show kxsaneconfig4 -a name=office model=KX-500 ip=192.0.2.11
show kxsaneconfig4 -q
show cat kxsanenetdevice4.cfg
say "Save the configuration under a label, remove a scanner, and restore the label:"
show kxsaneconfig4 -s:before-move
show kxsaneconfig4 -r office
show cat kxsanenetdevice4.cfg
show kxsaneconfig4 -l:before-move
show cat kxsanenetdevice4.cfg
say "Switch the backend's logging line on and off:"
show kxsaneconfig4 -LI
show cat kxsanenetdevice4.cfg
show kxsaneconfig4 -LO
show cat kxsanenetdevice4.cfg
show ls
SESSION
exec 3<"$binary" 4<"$model_file" </dev/null
exec "${unshare[@]}" /bin/bash -c "$session"
