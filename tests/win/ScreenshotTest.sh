#!/bin/sh
# A screenshot of the test window from its X display with ImageMagick's import: it must show
# the window (more than a few colours, its full size), not a blank or black area. Runs inside
# a session of cmake/wine-run.sh (--display --session), which sets DISPLAY and WINEPREFIX.
#   ScreenshotTest.sh TESTWINDOW.exe DRIVER.exe OUT_DIR   (writes OUT_DIR/test-window.png)
set -u
window=$1
driver=$2
out=$3
fail() {
  echo "ScreenshotTest: $*" >&2
  exit 1
}
for tool in import convert xdotool timeout; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (packages imagemagick, xdotool, coreutils)"
done
[ -n "${DISPLAY:-}" ] && [ -n "${WINEPREFIX:-}" ] || fail "run it through cmake/wine-run.sh --display --session"
mkdir -p "$out" || fail "cannot make $out"
shot=$out/test-window.png
rm -f "$shot"

wine "$window" >"$out/test-window.log" 2>&1 &
# The window is up once its rows are.
wine "$driver" --title "KIV test window" wait-cell 1011 2 4 "Version mismatch" || fail "the test window did not show its rows"
id=$(timeout 10 xdotool search --sync --limit 1 --name "KIV test window") || fail "no X window named \"KIV test window\""

# Wine puts what a window paints on the X display a moment later: look again until the shot
# shows the whole window, for at most 10 s.
deadline=$(($(date +%s) + 10))
while :; do
  import -window "$id" "$shot" 2>"$out/import.log" || fail "import failed: $(cat "$out/import.log")"
  set -- $(convert "$shot" -format "%w %h %k" info:)
  width=$1 height=$2 colours=$3
  [ "$width" -ge 600 ] && [ "$height" -ge 250 ] && [ "$colours" -ge 32 ] && break
  [ "$(date +%s)" -lt "$deadline" ] || fail "$shot looks blank: ${width}x${height}, $colours colours"
  sleep 0.2
done
echo "ScreenshotTest: $shot, ${width}x${height}, $colours colours"

wine "$driver" close && wine "$driver" answer yes "Are you sure?" >/dev/null && wine "$driver" wait-closed ||
  fail "the test window did not close"
wait
