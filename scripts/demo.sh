#!/usr/bin/env bash
# The main job, against the virtual router on loopback: builds what is missing, writes the
# sample images into the demo's own work directory, starts kivrouter-sim on 127.0.0.1 with
# older versions, then runs "kivupgrade-cli check", "kivupgrade-cli upgrade", a second
# check that shows the new versions, and "kivupgrade-cli history". The simulator is stopped
# (by its own process id) and the work directory (images, download log, history,
# transcript) removed however the script ends: no test image is left where a later real
# upgrade would find it.
#
#   scripts/demo.sh [--family A|B] [--build DIR] [--gui] [--router-port N] [--telnet-port N]
# --gui opens the desktop window against the simulator instead: press Check, then Upgrade.
# --router-port, --telnet-port: the simulator's ports (default: free ones; scripts/capture.sh
# runs the demo on the router's own 1280 and 23 inside a network namespace of its own).
# The programs are taken from build/ when it has them; otherwise only the programs the demo
# runs are built, in build-demo/ (or --build DIR), after installing only what they need.
# KIV_TIME_SCALE (default 0.05 here) shortens every pause and time-out; use 1 for real time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=
family=A
gui=0
sim_router_port=0
sim_telnet_port=0

usage() { sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; }
while [ $# -gt 0 ]; do
  case "$1" in
    --family) family=${2:-}; shift 2 ;;
    --build) build=${2:-}; shift 2 ;;
    --gui) gui=1; shift ;;
    --router-port) sim_router_port=${2:-}; shift 2 ;;
    --telnet-port) sim_telnet_port=${2:-}; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "demo.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
done
case "$family" in
  A|a) family=A; sub=a; app_version=2.1.5.0 ;;
  B|b) family=B; sub=b; app_version=3.2.1.0 ;;
  *) echo "demo.sh: --family takes A or B" >&2; exit 2 ;;
esac
targets=(kivupgrade-cli kivrouter-sim kivimage)
[ "$gui" = 1 ] && targets+=(kivupgrade)
# True when build directory $1 holds every program the demo runs.
has_programs() {
  [ -x "$1/cli/kivupgrade-cli" ] && [ -x "$1/sim/kivrouter-sim" ] && [ -x "$1/tools/kivimage/kivimage" ] &&
    { [ "$gui" = 0 ] || [ -x "$1/gui/kivupgrade" ]; }
}
if [ -z "$build" ]; then
  build=$root/build
  has_programs "$build" || build=$root/build-demo
fi
case "$build" in /*) ;; *) build=$root/$build ;; esac
for port in "$sim_router_port" "$sim_telnet_port"; do
  [[ $port =~ ^[0-9]+$ ]] && [ "$port" -le 65535 ] || { echo "demo.sh: a port is a number from 0 to 65535" >&2; exit 2; }
done

cli=$build/cli/kivupgrade-cli
sim=$build/sim/kivrouter-sim
kivimage=$build/tools/kivimage/kivimage
gui_app=$build/gui/kivupgrade
if ! has_programs "$build"; then
  # Only the programs the demo runs: no tests, benchmarks or release files.
  echo "== building ${targets[*]} ($build)"
  "$root/scripts/deps.sh" --demo $([ "$gui" = 1 ] && echo --gui)
  with_gui=OFF
  [ "$gui" = 1 ] && with_gui=ON
  if [ -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DKIV_BUILD_GUI=$with_gui >/dev/null
  else
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=OFF -DKIV_BUILD_GUI=$with_gui >/dev/null
  fi
  cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
fi

export KIV_TIME_SCALE=${KIV_TIME_SCALE:-0.05}
work=$(mktemp -d "${TMPDIR:-/tmp}/kiv-demo.XXXXXX")
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The programs' own files of this run (download log, extracted help, window settings, the
# upgrade history) stay in the work directory too.
mkdir -p "$work/tmp" "$work/config" "$work/state"
export TMPDIR=$work/tmp XDG_STATE_HOME=$work/state

images=$work/samples/$sub
echo "== sample images (family $family) in the demo's work directory"
"$kivimage" samples "$work/samples" >/dev/null
ls "$images"/*.bin | sed 's/^/   /'

echo "== starting kivrouter-sim on 127.0.0.1 (family $family, older versions)"
"$sim" --address 127.0.0.1 --router-port "$sim_router_port" --telnet-port "$sim_telnet_port" --family "$family" \
  --boot-version 1.0.5.0 --app-version "$app_version" \
  --firmware-version 11.608.10.01.00 --dashboard-version 16.200.10.01.00 \
  --transcript "$work/transcript.jsonl" --strict >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 1 100); do
  grep -q ready "$work/sim.out" 2>/dev/null && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.err" >&2; echo "demo.sh: the simulator did not start" >&2; exit 1; }
  sleep 0.1
done
ready=$(grep ready "$work/sim.out" || true)
[ -n "$ready" ] || { echo "demo.sh: the simulator never said ready" >&2; exit 1; }
echo "   $ready"
router_port=$(sed -n 's/.*router-port=\([0-9]*\).*/\1/p' <<<"$ready")
telnet_port=$(sed -n 's/.*telnet-port=\([0-9]*\).*/\1/p' <<<"$ready")
args=(--images "$images" --target 127.0.0.1 --router-port "$router_port" --telnet-port "$telnet_port")

if [ "$gui" = 1 ]; then
  [ -x "$gui_app" ] || { echo "demo.sh: $gui_app was not built (needs Qt 6 and KIV_BUILD_GUI=ON)" >&2; exit 1; }
  echo
  echo "== kivupgrade (the window): press Check, then Upgrade; close the window to end"
  XDG_CONFIG_HOME=$work/config "$gui_app" "${args[@]}"
  exit 0
fi

status=0
run() {
  echo
  echo "== kivupgrade-cli $1"
  "$cli" "$1" "${args[@]}" || { rc=$?; echo "   (exit status $rc)"; status=1; }
}
run check
run upgrade
run check
# The simulator ends with exit status 3 when the tool broke the protocol anywhere.
kill -TERM "$sim_pid"
wait "$sim_pid" || { echo "== kivrouter-sim: exit status $?: $(cat "$work/sim.err")"; status=1; }
sim_pid=
echo
echo "== kivupgrade-cli history"
"$cli" history | sed 's/^/   /'
echo
if [ "$status" = 0 ]; then
  echo "== done: every component was upgraded and the second check shows the new versions"
else
  echo "== done with failures (see above); the download log of this run:"
  sed 's/^/   /' "$TMPDIR/KivUpgradeLog.txt" 2>/dev/null || true
fi
exit "$status"
