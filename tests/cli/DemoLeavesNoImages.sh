#!/usr/bin/env bash
# Runs scripts/demo.sh against a build and then looks beside every program the build made:
# a .bin image left there would be sent by a later real "kivupgrade-cli upgrade".
#   DemoLeavesNoImages.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
root=$1
build=$2

out=$(mktemp "${TMPDIR:-/tmp}/kiv-demo-test.XXXXXX")
trap 'rm -f "$out"' EXIT
if ! "$root/scripts/demo.sh" --build "$build" >"$out" 2>&1; then
  cat "$out"
  echo "FAIL: scripts/demo.sh failed" >&2
  exit 1
fi
grep -q '== done: every component was upgraded' "$out" || { cat "$out"; echo "FAIL: the demo did not finish" >&2; exit 1; }

left=$(find "$build" -type f -perm -u+x -not -path '*/CMakeFiles/*' -printf '%h\n' | sort -u |
       while read -r dir; do find "$dir" -maxdepth 1 -name '*.bin'; done)
if [ -n "$left" ]; then
  echo "FAIL: image files beside built programs after the demo:" >&2
  echo "$left" >&2
  exit 1
fi
echo "no image file beside any program of $build"
