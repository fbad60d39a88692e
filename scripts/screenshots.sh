#!/usr/bin/env bash
# Starts the desktop program under Xvfb against the virtual router, presses "&Check" and
# "&Upgrade" with real mouse clicks, and saves the window idle, after the check and after
# the upgrade into docs/screenshots/.
#   scripts/screenshots.sh [BUILD_DIR]     (default build-gui)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-gui}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
out=$root/docs/screenshots
app=$build/gui/kivupgrade
sim=$build/sim/kivrouter-sim
kivimage=$build/tools/kivimage/kivimage
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "missing $tool (xvfb, xdotool, imagemagick)" >&2; exit 1; }
done
for program in "$app" "$sim" "$kivimage"; do
  [ -x "$program" ] || { echo "missing $program: build the targets kivupgrade kivrouter-sim kivimage" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

scale=${KIV_TIME_SCALE:-0.05}
"$kivimage" samples "$work/images" >/dev/null

"$sim" --address 127.0.0.1 --router-port 0 --telnet-port 0 --time-scale "$scale" \
  --transcript "$work/transcript.jsonl" >"$work/sim.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$work/sim.out" && break; sleep 0.1; done
grep -q ready "$work/sim.out" || { echo "simulator did not start" >&2; cat "$work/sim.out" >&2; exit 1; }
router_port=$(sed -n 's/.*router-port=\([0-9]*\).*/\1/p' "$work/sim.out")
telnet_port=$(sed -n 's/.*telnet-port=\([0-9]*\).*/\1/p' "$work/sim.out")

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x640x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

mkdir -p "$work/run" "$work/config" "$work/tmp"
chmod 700 "$work/run"
XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config TMPDIR=$work/tmp \
KIV_DISCOVERY_TARGETS=127.0.0.1 KIV_ROUTER_PORT=$router_port KIV_TELNET_PORT=$telnet_port \
KIV_TIME_SCALE=$scale KIV_IMAGE_DIR=$work/images/a "$app" &
pids+=($!)

win=""
for _ in $(seq 100); do
  win=$(xdotool search --name "Press F1 for Help" 2>/dev/null | head -1) && [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || { echo "the window did not appear" >&2; exit 1; }
xdotool windowmove "$win" 40 40
sleep 0.5

shot() { import -window "$win" "$out/$1.png"; echo "saved $out/$1.png"; }
# Button centres from the window's layout: gap = (W - 400) / 3, buttons 200 x 50 at y = 6.
width=$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')
gap=$(( (width - 400) / 3 ))
click() { xdotool mousemove --window "$win" "$1" 31 click 1; }
transcript=$work/transcript.jsonl
lines() { [ -f "$transcript" ] && wc -l <"$transcript" || echo 0; }

# Waits until the router has been quiet for three seconds: the worker has ended.
settle() {
  local last=-1 same=0
  for _ in $(seq 600); do
    local now; now=$(lines)
    if [ "$now" = "$last" ]; then same=$((same + 1)); else same=0; last=$now; fi
    [ "$same" -ge 6 ] && return 0
    sleep 0.5
  done
}

xdotool mousemove --window "$win" 5 200
shot idle
click $((gap + 100))
settle
xdotool mousemove --window "$win" 5 200
sleep 0.5
shot after-check
click $((2 * gap + 300))
sleep 1
settle
xdotool mousemove --window "$win" 5 200
sleep 0.5
shot after-upgrade
