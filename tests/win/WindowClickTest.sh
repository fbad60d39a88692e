#!/bin/bash
# kivupgrade.exe clicked from outside, under Wine, against the Linux kivrouter-sim --strict on
# 127.0.0.1: Check fills the rows with the router's and the images' versions and names the
# router under the list; Return in the list checks again and writes nothing; Upgrade writes
# every image ("Download successfully (mm:ss)" in every row, the versions read back), while
# the session may not end and Escape is refused; Escape asks before closing; the placement is
# in the registry and read back at the next start; a second copy exits 0; F1 writes the help
# file; and the end of the session during an upgrade lets the upgrade finish and log its
# last lines. The simulator must end without a protocol violation. Screenshots of the window
# (idle, after a check, during and after an upgrade) go to OUT_DIR.
# Runs inside a session of cmake/wine-run.sh (--display --session).
#   WindowClickTest.sh KIVUPGRADE.exe DRIVER.exe KIVIMAGE.exe LINUX_SIM OUT_DIR
set -u -o pipefail
window=$1
driver=$2
kivimage=$3
sim=$4
out=$5
fail() {
  echo "WindowClickTest: $*" >&2
  [ -f "$work/window.err" ] && sed 's/^/  window: /' "$work/window.err" >&2
  exit 1
}
work=$(mktemp -d "${TMPDIR:-/tmp}/kiv-click.XXXXXX") || fail "cannot make a work folder"
sim_pid=
window_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  [ -n "$window_pid" ] && kill "$window_pid" 2>/dev/null && wait "$window_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
for tool in import convert timeout awk; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (packages imagemagick, coreutils, gawk)"
done
[ -n "${DISPLAY:-}" ] && [ -n "${WINEPREFIX:-}" ] || fail "run it through cmake/wine-run.sh --display --session"
[ -x "$sim" ] || fail "no Linux kivrouter-sim at $sim (build it in the main configuration: scripts/test-windows.sh does)"
mkdir -p "$out" || fail "cannot make $out"

# Every wait of the driver ends after its --timeout; the Wine calls themselves are guarded too.
drive() { timeout 200 wine "$driver" "$@" | tr -d '\r'; }
cell() { drive rows 1011 | awk -F'\t' -v r="$1" -v c="$2" 'NR == r + 1 { print $(c + 1) }'; }
shot() {
  import -window root -crop "$(drive rect | awk '{ printf "%dx%d+%d+%d", $3 - $1, $4 - $2, $1, $2 }')" \
    "$out/windows-$1.png" 2>"$work/import.log" || fail "import failed: $(cat "$work/import.log")"
}
# start_window [IMAGES]: the samples of family A unless another folder is given.
start_window() {
  wine "$window" --images "${1:-Z:$work/samples/a}" --target 127.0.0.1 --router-port "$router_port" \
    --telnet-port "$telnet_port" --time-scale "$scale" >"$work/window.out" 2>"$work/window.err" &
  window_pid=$!
  drive wait-window >/dev/null || fail "the window did not open"
}
end_window() {
  wait "$window_pid"
  local status=$?
  window_pid=
  [ "$status" = 0 ] || fail "kivupgrade.exe ended with status $status"
}
# wait_until SECONDS COMMAND...: runs COMMAND until it succeeds, for at most SECONDS.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}
discoveries() { grep -c '"dir":"in","hex":"7E 01 ' "$work/transcript.jsonl"; }

# Telnet replies get 100 ms of real time: not below 0.2.
scale=$(awk -v s="${KIV_TIME_SCALE:-0.05}" 'BEGIN { print (s < 0.2 ? 0.2 : s) }')
router_versions=(1.0.5.0 2.1.5.0 2.1.5.0 11.608.10.01.00 16.200.10.01.00)
mac=02-4B-49-56-00-01

# The sample images of family A, and their versions from the image tool's own table.
wine "$kivimage" samples "Z:$work/samples" >/dev/null 2>&1 || fail "kivimage.exe wrote no samples"
mapfile -t image_versions < <(wine "$kivimage" --help | tr -d '\r' | awk '$1 ~ /^a\// { print $3 }')
[ "${#image_versions[@]}" = 5 ] || fail "kivimage.exe --help lists ${#image_versions[@]} family A samples, not 5"

"$sim" --address 127.0.0.1 --router-port 0 --telnet-port 0 --family A --mac "$mac" \
  --boot-version "${router_versions[0]}" --app-version "${router_versions[1]}" \
  --firmware-version "${router_versions[3]}" --dashboard-version "${router_versions[4]}" \
  --transcript "$work/transcript.jsonl" --time-scale "$scale" --strict >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
deadline=$((SECONDS + 20))
until grep -q ready "$work/sim.out" 2>/dev/null; do
  kill -0 "$sim_pid" 2>/dev/null || fail "the simulator did not start: $(cat "$work/sim.err")"
  [ "$SECONDS" -lt "$deadline" ] || fail "the simulator never said ready"
  sleep 0.1
done
router_port=$(sed -n 's/.*router-port=\([0-9]*\).*/\1/p' "$work/sim.out")
telnet_port=$(sed -n 's/.*telnet-port=\([0-9]*\).*/\1/p' "$work/sim.out")

# ---- first run: check, check again from the list, upgrade, close ---------------------------
start_window
drive title | grep -q "Press F1 for Help" || fail "the title is \"$(drive title)\""
shot idle
drive place 100 100 1000 420 || fail "the window cannot be placed"

# A second copy brings the first forward and ends at once with status 0.
timeout 60 wine "$window" >/dev/null 2>&1 || fail "a second copy ended with status $?"
drive title >/dev/null || fail "the first window is gone after a second copy started"

drive click 1000 || fail "no Check button"
drive --timeout 60000 wait-cell 1011 4 4 "Waiting for the upgrade" || fail "the check did not end waiting for the upgrade"
drive rows 1011 >"$work/rows-checked"
for row in 0 1 2 3 4; do
  current=$(cell "$row" 1)
  upgrade=$(cell "$row" 2)
  [ "$current" = "${router_versions[$row]}" ] || fail "row $row: current version \"$current\", the router has ${router_versions[$row]}"
  [ "$upgrade" = "${image_versions[$row]}" ] || fail "row $row: upgrade version \"$upgrade\", the image has ${image_versions[$row]}"
done
wait_until 20 drive enabled 1013 || fail "Upgrade stays disabled after a passed check"
drive text 1014 | grep -q "127.0.0.1.*$mac" || fail "the router is not named under the list: \"$(drive text 1014)\""
shot after-check

# Return in the list checks again (the router is asked once more) and writes nothing.
before=$(discoveries)
wait_until 20 drive enabled 1013 || fail "Upgrade is not enabled after the check"
drive key tab || fail "Tab was not taken"
[ "$(drive focus)" = 1011 ] || fail "Tab from Upgrade went to control $(drive focus), not the list"
drive key return || fail "Return was not taken"
asked_again() { [ "$(discoveries)" -gt "$before" ] && drive enabled 1013; }
wait_until 60 asked_again || fail "Return in the list did not check again"
drive rows 1011 | grep -q Download && fail "Return in the list started an upgrade"

drive click 1013 || fail "no Upgrade button"
drive --timeout 60000 wait-cell 1011 0 4 "Download" || fail "the upgrade did not start"
shot during-upgrade
[ "$(drive query-end-session)" = 0 ] || fail "the session may end while an upgrade runs"
drive key escape && drive answer ok "The upgrade is in process" >/dev/null || fail "Escape was not refused during the upgrade"
for row in 0 1 2 3 4; do
  drive --timeout 150000 wait-cell 1011 "$row" 4 "Download successfully (" || fail "row $row did not end successfully"
done
drive rows 1011 >"$work/rows-upgraded"
for row in 0 1 2 3 4; do
  status=$(cell "$row" 4)
  [[ $status =~ ^Download\ successfully\ \([0-9][0-9]:[0-9][0-9]\)$ ]] || fail "row $row says \"$status\""
done
# The wireless module reports its versions after its restart: they are shown as read back.
for row in 3 4; do
  [ "$(cell "$row" 1)" = "${image_versions[$row]}" ] || fail "row $row: the version read back is \"$(cell "$row" 1)\""
done
[ "$(drive query-end-session)" = 1 ] || fail "the session may not end after the upgrade"
shot after-upgrade

# F1 writes the help file into the temporary directory and hands it to the shell.
drive key f1 || fail "F1 was not taken"
help_written() { find "$WINEPREFIX/drive_c/users" -name KivUpgradeHelp.chm | grep -q .; }
wait_until 20 help_written || fail "F1 wrote no KivUpgradeHelp.chm"

rect=$(drive rect)
drive key escape && drive answer no "Are you sure?" >/dev/null || fail "Escape did not ask before closing"
drive title >/dev/null || fail "the window closed after No"
drive key escape && drive answer yes "Are you sure?" >/dev/null && drive wait-closed || fail "the window did not close after Yes"
end_window
wine reg query 'HKCU\Software\Varoni\kivupgrade\Settings' /v "Window Position" 2>/dev/null | tr -d '\r' |
  grep -q "REG_BINARY" || fail "no \"Window Position\" in the registry"

# ---- second run: the placement read back; the session ends during an upgrade -------------
start_window
[ "$(drive rect)" = "$rect" ] || fail "the window opened at $(drive rect), it closed at $rect"
drive click 1000 || fail "no Check button"
wait_until 60 drive enabled 1013 || fail "the second check did not pass"
# The wireless module's new versions are the images' own: "up to date", in the row and below.
[ "$(cell 4 4)" = "Up to date" ] || fail "the dashboard row says \"$(cell 4 4)\" after its upgrade"
drive text 1014 | grep -q "an upgrade would write them again" || fail "no word under the list about versions already there"
drive click 1013 || fail "no Upgrade button"
drive --timeout 60000 wait-cell 1011 0 4 "Download" || fail "the second upgrade did not start"
# WM_ENDSESSION returns once the upgrade has reached its end; the window then closes.
drive --timeout 150000 end-session || fail "the window did not finish WM_ENDSESSION"
window_gone() { ! kill -0 "$window_pid" 2>/dev/null; }
wait_until 30 window_gone || fail "kivupgrade.exe still runs after the session ended"
end_window
log=$(find "$WINEPREFIX/drive_c/users" -name KivUpgradeLog.txt | head -1)
[ -n "$log" ] || fail "no KivUpgradeLog.txt"
tr -d '\r' <"$log" | awk '/WM_ENDSESSION received: the upgrade goes on to its end/ { seen = 1 }
  seen && /Leave Forcing Download Mode/ { left = 1 } seen && left && /\+\+\+\+\+\+\+\+\+\+$/ { done = 1 }
  END { exit done ? 0 : 1 }' || fail "the log does not show the upgrade ending after WM_ENDSESSION: $(tail -5 "$log")"

# ---- third run: a damaged image fails the check in its own row ------------------------------
cp -r "$work/samples/a" "$work/damaged" || fail "cannot copy the samples"
# One bit of the APP image's data (which starts at byte 202) flipped.
app=$work/damaged/app.bin
byte=$(od -An -tu1 -j 1000 -N1 "$app" | tr -d ' ')
printf "\\$(printf %o $((byte ^ 1)))" | dd of="$app" bs=1 seek=1000 conv=notrunc 2>/dev/null
start_window "Z:$work/damaged"
drive click 1000 || fail "no Check button"
drive --timeout 60000 wait-cell 1011 1 4 "Image damaged: " || fail "the APP row does not say its image is damaged"
wait_until 60 drive enabled 1000 || fail "the check with a damaged image did not end"
drive rows 1011 | awk -F'\t' 'NR == 2 { exit $6 == "0000ff" ? 0 : 1 }' || fail "the damaged row is not in the error colour"
drive enabled 1013 && fail "Upgrade is enabled with a damaged image"
drive key escape && drive answer yes "Are you sure?" >/dev/null || fail "the window did not ask before closing"
end_window

kill -TERM "$sim_pid"
wait "$sim_pid"
status=$?
sim_pid=
[ "$status" = 0 ] || fail "the simulator ended with status $status: $(cat "$work/sim.err")"
echo "WindowClickTest: checked, upgraded twice, $(ls "$out"/windows-*.png | wc -l) screenshots in $out"
