#!/usr/bin/env bash
# Plays a short session with kxsaneconfig4 and the example model description
# file kx-example.ini, then a search with kxsanefind4 on a private LAN of
# made-up scanners, printing each command before its output.
#
# Usage: examples/demo.sh KXSANECONFIG4 KXSANEFIND4 WSD_RESPONDER
#
# The session runs inside a private mount namespace with fresh tmpfs mounts
# over /etc/opt and /tmp, so the machine's own configuration directory and
# /tmp are never read or changed, and everything is gone when it ends. It
# needs root (unshare -m) or, as another user, a kernel that allows user
# namespaces (unshare -rm). The search needs root as well, and avahi-daemon,
# avahi-utils, dbus-daemon and iproute2: it runs on a LAN of two network
# namespaces of its own, each side with its own bus and Avahi daemon, so it
# never reaches the machine's network, bus or Avahi daemon. Without them the
# demo says on standard error why it leaves the search out, and plays the
# rest. WSD_RESPONDER is the tests' made-up WS-Discovery device
# (tests/discovery/wsd_responder.cc).
set -euo pipefail

[ $# -eq 3 ] && [ -x "$1" ] && [ -x "$2" ] && [ -x "$3" ] || {
  sed -n '6p' "$0" | sed 's/^# //' >&2
  exit 2
}
examples=$(cd "$(dirname "$0")" && pwd)

unshare=(unshare -m --propagation private)
[ "$(id -u)" -eq 0 ] || unshare=(unshare -r -m --propagation private)
if ! "${unshare[@]}" true 2>/dev/null; then
  echo "$0: cannot make a private mount namespace (${unshare[*]}): run as root," \
    "or allow user namespaces" >&2
  exit 1
fi

# Why the search on a private LAN cannot be played here; empty when it can.
lan_unavailable() {
  [ "$(id -u)" -eq 0 ] || {
    echo "not running as root, so no network namespaces"
    return
  }
  local program
  for program in nsenter ip dbus-daemon dbus-send avahi-daemon avahi-publish; do
    command -v "$program" >/dev/null || {
      echo "$program is not installed (packages avahi-daemon, avahi-utils, dbus-daemon, iproute2)"
      return
    }
  done
  unshare -m -n -p -f --propagation private /bin/sh -c \
    'mount -t tmpfs kxsane-demo-probe /run && ip link set lo up' 2>/dev/null ||
    echo "cannot make mount, network and PID namespaces (unshare -m -n -p)"
}
lan_skipped=$(lan_unavailable)
[ -z "$lan_skipped" ] ||
  echo "$0: leaving out the search on a private LAN: $lan_skipped" >&2

# The session itself, in the namespace. The programs and the model file are
# opened first (descriptors 3 to 6), as they may lie under /tmp, which the
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
# file; the programs lie beside it, outside the configuration directory.
bin=/etc/opt/kxsane-demo
mkdir -p -m 0755 "$cfg/models4" "$bin"
cat <&4 >"$cfg/models4/kx-example.ini"
cat <&3 >"$bin/kxsaneconfig4"
cat <&5 >"$bin/kxsanefind4"
cat <&6 >"$bin/wsd_responder"
chmod 0755 "$bin"/*
exec 3<&- 4<&- 5<&- 6<&-
PATH=$bin:$PATH

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

[ -z "$LAN_SKIPPED" ] || exit 0

# The LAN: two sides joined by a veth pair, the admin side (10.77.0.1, where
# the finder runs) and the scanner side (10.77.0.2, where the made-up
# scanners announce themselves). Each side is a holder process in mount,
# network and PID namespaces of its own, with its own /run, system bus and
# Avahi daemon. The holder is its PID namespace's init: killing it ends every
# process of the side. The session kills both holders as it ends; should it be
# killed itself, its unshare processes die with it (setpriv --pdeathsig) and
# take their holders with them (--kill-child).
lan=/tmp/lan
# Every program on a side uses that side's bus, at the standard address.
unset DBUS_SYSTEM_BUS_ADDRESS
mkdir -m 0700 "$lan"
cat >"$lan/bus.conf" <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
avahi_config() {
  printf '%s\n' "[server]" "host-name=kxsane-demo-$1" "use-ipv4=yes" "use-ipv6=no" \
    "allow-interfaces=$2" "enable-dbus=yes" "[wide-area]" "enable-wide-area=no" \
    "[publish]" "publish-hinfo=no" "publish-workstation=no" "publish-aaaa-on-ipv4=no"
}

# Starts side $1's holder and sets the variable $1 to its process id, as
# this namespace sees it: the holder writes it from /proc/self/stat, read
# before the side mounts a /proc of its own.
start_side() {
  setpriv --pdeathsig KILL unshare -m -n -p -f --kill-child --propagation private \
    env pid_file="$lan/$1.pid" /bin/sh -c \
    'read -r pid rest </proc/self/stat
     echo "$pid" >"$pid_file.new" && mv "$pid_file.new" "$pid_file"
     exec sleep infinity' </dev/null >/dev/null 2>&1 &
  until [ -s "$lan/$1.pid" ]; do sleep 0.01; done
  printf -v "$1" %s "$(cat "$lan/$1.pid")"
}
end_lan() {
  local holder
  for holder in ${admin:+"$admin"} ${scanner:+"$scanner"}; do
    kill -KILL "$holder" 2>/dev/null || true
  done
  wait
}
trap end_lan EXIT

# Runs a command on side $1.
on() {
  local side=${!1}
  shift
  nsenter -t "$side" -m -n -p -- "$@"
}

# Brings side $1's end $2 of the link up at address $3, gives the side its
# own /run (its bus socket, its Avahi daemon's socket and pid file) and a
# /proc of its PID namespace, starts its bus and its Avahi daemon, and waits
# until the daemon runs (state 2: its host name is established).
set_up_side() {
  avahi_config "$1" "$2" >"$lan/avahi-$1.conf"
  on "$1" env config="$lan/avahi-$1.conf" log="$lan/avahi-$1.log" bus="$lan/bus.conf" \
    link="$2" address="$3" /bin/sh -ec '
    mount -t tmpfs -o mode=0755 kxsane-demo-run /run && mkdir /run/dbus
    mount -t proc kxsane-demo-proc /proc
    ip link set lo up && ip addr add "$address/16" dev "$link" && ip link set "$link" up
    dbus-daemon --config-file="$bus" --fork --nopidfile --nosyslog
    avahi-daemon --no-drop-root --no-chroot --no-rlimits -f "$config" >"$log" 2>&1 &
    i=0
    until dbus-send --system --print-reply --dest=org.freedesktop.Avahi / \
      org.freedesktop.Avahi.Server.GetState 2>/dev/null | grep -q "int32 2"; do
      i=$((i + 1)) && [ $i -lt 500 ] || { echo "avahi-daemon did not start:"; cat "$log"; exit 1; }
      sleep 0.02
    done' >&2
}

# Announces a made-up scanner over DNS-SD from the scanner side: address
# record HOST.local -> ADDRESS, and the instance NAME of _uscan._tcp with the
# TXT records that follow. The publishers run until the LAN ends.
publishers=0
announce() {
  local host=$1.local address=$2 name=$3
  shift 3
  publishers=$((publishers + 2))
  on scanner avahi-publish -a -R "$host" "$address" >"$lan/publish-$host" 2>&1 &
  on scanner avahi-publish -s -H "$host" "$name" _uscan._tcp 80 "$@" \
    >"$lan/publish-$host-service" 2>&1 &
}
# Returns once every publisher says its records are established.
wait_announced() {
  local i=0
  until [ "$(grep -l Established "$lan"/publish-* 2>/dev/null | wc -l)" -eq "$publishers" ]; do
    i=$((i + 1)) && [ $i -lt 500 ] || {
      echo "the announcements were not established:" >&2
      cat "$lan"/publish-* >&2
      exit 1
    }
    sleep 0.02
  done
}

start_side admin
start_side scanner
nsenter -t "$admin" -n -- ip link add kxdemo0 type veth peer name kxdemo1 netns "$scanner"
set_up_side admin kxdemo0 10.77.0.1
set_up_side scanner kxdemo1 10.77.0.2
announce kx20 10.77.0.20 "Front Desk" "ty=Kestrel KX-100 color"
announce KXN_00012 10.77.0.21 "Lab scanner" mdl=KX-200F
announce acme 10.77.0.22 "Acme 3000" "ty=Acme 3000"
echo "10.77.0.23|scanner|Kestrel|KX-500|Copy Room" >"$lan/devices"
on scanner ip addr add 10.77.0.23/24 dev kxdemo1
on scanner wsd_responder kxdemo1 "$lan/devices" "$lan/http.log"
wait_announced

# The finder runs on the admin side, which sees only the LAN and its own
# side's bus and Avahi daemon; its first line says how long it took, which
# varies from run to run.
kxsanefind4() {
  on admin "$bin/kxsanefind4" "$@"
}
steady_time() {
  sed 's/ found in [0-9.]* s / found in N.NN s /'
}

say "kxsanefind4 on a private LAN of two network namespaces, as the admin side" \
  "sees it: three made-up scanners announce themselves over DNS-SD (a KX-100" \
  "at 10.77.0.20, the KX-200F registered above as lab by its node name, at" \
  "10.77.0.21, and an unknown model at 10.77.0.22), and one over WS-Discovery" \
  "(a KX-500 at 10.77.0.23). The seconds of each first line are shown as N.NN:" \
  "they vary from run to run."
show kxsanefind4 | steady_time
say "Register every new scanner of a known model at once, and list them:"
show kxsanefind4 --add | steady_time
show kxsaneconfig4 -q
SESSION
exec 3<"$1" 4<"$examples/kx-example.ini" 5<"$2" 6<"$3" </dev/null
LAN_SKIPPED=$lan_skipped exec "${unshare[@]}" /bin/bash -c "$session"
