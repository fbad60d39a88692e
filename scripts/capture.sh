#!/usr/bin/env bash
# Records a whole session of the tool with the virtual router into a capture file:
# scripts/demo.sh runs inside a network namespace of its own, the simulator on the router's
# own ports (UDP and TCP 1280, Telnet 23) on that namespace's loopback interface, and
# tcpdump records the interface. Nothing leaves the namespace. The loopback interface gets
# an Ethernet MTU (1500), so frames are cut into segments as on a real LAN.
#
#   scripts/capture.sh [--out FILE] [--family A|B] [--build DIR] [--gui]
#
# --out FILE     the capture file (default upgrade.pcap)
# --family, --build, --gui are passed to scripts/demo.sh.
# Needs root (network namespaces), ip, tcpdump. Read the capture with the dissector:
#   tshark -X lua_script:tools/wireshark/kivupgrade.lua -r upgrade.pcap
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=upgrade.pcap
build=$root/build
demo_args=()

usage() { sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; }
fail() { echo "capture.sh: $*" >&2; exit 1; }
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=${2:-}; [ -n "$out" ] || fail "--out needs a file"; shift 2 ;;
    --build) build=${2:-}; shift 2 ;;
    --family) demo_args+=(--family "${2:-}"); shift 2 ;;
    --gui) demo_args+=(--gui); shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "capture.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
done
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
case "$out" in /*) ;; *) out=$PWD/$out ;; esac

[ "$(id -u)" = 0 ] || fail "network namespaces need root: run it with sudo"
ip=$(command -v ip || true)
tcpdump=$(command -v tcpdump || true)
[ -n "$ip" ] && [ -n "$tcpdump" ] || fail "ip and tcpdump are needed (scripts/deps.sh installs them)"

# Build outside the namespace, which has no way out to fetch packages.
if [ ! -x "$build/cli/kivupgrade-cli" ] || [ ! -x "$build/sim/kivrouter-sim" ] || [ ! -x "$build/tools/kivimage/kivimage" ]; then
  echo "== building ($build)"
  "$root/scripts/deps.sh"
  "$root/scripts/build.sh" "$build"
fi

ns=kivcapture$$
work=$(mktemp -d "${TMPDIR:-/tmp}/kiv-capture.XXXXXX")
tcpdump_pid=
cleanup() {
  if [ -n "$tcpdump_pid" ] && kill -0 "$tcpdump_pid" 2>/dev/null; then
    kill -INT "$tcpdump_pid" 2>/dev/null || true
    wait "$tcpdump_pid" 2>/dev/null || true
  fi
  "$ip" netns del "$ns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$ip" netns add "$ns"
"$ip" -n "$ns" link set lo mtu 1500 gso_max_size 1500 up

# The router's ports, plus a marker datagram to UDP port 9 that says the capture is complete
# (it is removed from the file at the end).
filter="udp port 1280 or tcp port 1280 or tcp port 23 or udp port 9"
raw=$work/raw.pcap
"$ip" netns exec "$ns" "$tcpdump" -i lo -s 0 -U -B 65536 -Z root -w "$raw" "$filter" \
  2>"$work/tcpdump.err" &
tcpdump_pid=$!
deadline=$(( $(date +%s) + 20 ))
until grep -q "listening on" "$work/tcpdump.err" 2>/dev/null; do
  kill -0 "$tcpdump_pid" 2>/dev/null || fail "tcpdump did not start: $(cat "$work/tcpdump.err")"
  [ "$(date +%s)" -lt "$deadline" ] || fail "tcpdump did not start listening"
  sleep 0.05
done

echo "== recording scripts/demo.sh ${demo_args[*]} in the network namespace $ns"
status=0
"$ip" netns exec "$ns" "$root/scripts/demo.sh" --build "$build" --router-port 1280 --telnet-port 23 \
  "${demo_args[@]}" || status=$?

# Every packet before the marker is in the file once the marker is: tcpdump writes them in
# order, one by one (-U).
"$ip" netns exec "$ns" bash -c 'printf KIVCAPTUREEND >/dev/udp/127.0.0.1/9'
deadline=$(( $(date +%s) + 20 ))
until grep -q KIVCAPTUREEND "$raw" 2>/dev/null; do
  [ "$(date +%s)" -lt "$deadline" ] || fail "the capture never received its end marker"
  sleep 0.05
done
kill -INT "$tcpdump_pid"
wait "$tcpdump_pid" || true
tcpdump_pid=
dropped=$(sed -n 's/^\([0-9]*\) packets\{0,1\} dropped by kernel$/\1/p' "$work/tcpdump.err")
[ "${dropped:-0}" = 0 ] || fail "tcpdump lost $dropped packets (the machine was too busy): run it again"

"$tcpdump" -Z root -r "$raw" -w "$out" "not udp port 9" 2>/dev/null || fail "cannot write $out"
# Run through sudo, the file belongs to the user who asked for it.
if [ -n "${SUDO_UID:-}" ] && [ -n "${SUDO_GID:-}" ]; then
  chown "$SUDO_UID:$SUDO_GID" "$out"
fi
echo
echo "== $out: $("$tcpdump" -r "$out" 2>/dev/null | wc -l) packets"
echo "   tshark -X lua_script:$root/tools/wireshark/kivupgrade.lua -r $out"
exit "$status"
