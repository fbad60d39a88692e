#!/usr/bin/env bash
# The Windows stage of the tests: builds the Windows configuration (scripts/build-windows.sh,
# tests included) and runs its ctest, every test program under Wine in a prefix of its own.
# A Wine that is missing or cannot run the programs fails the stage; it never skips.
#   scripts/test-windows.sh [ctest arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

export KIV_TIME_SCALE=${KIV_TIME_SCALE:-0.05}
export KIV_TEST_STRICT=${KIV_TEST_STRICT:-1}
# Wine's server keeps its socket below TMPDIR, and every test's prefix is made there.
if [ -z "${TMPDIR:-}" ] || [ ! -d "$TMPDIR" ]; then
  export TMPDIR=$(mktemp -d /tmp/kiv-test.XXXXXX)
  trap 'rm -rf "$TMPDIR"' EXIT
fi

start=$(date +%s)
# The Windows programs are tested against the Linux virtual router of the main
# configuration's folder (the test command builds that folder first; alone, this makes it).
linux=$root/build
if [ ! -f "$linux/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$linux" -j "$(nproc)" --target kivrouter-sim
KIV_WINDOWS_BUILD_ALL=1 scripts/build-windows.sh
built=$(date +%s)

status=0
scripts/ctest-floor.sh windows build-windows --output-on-failure -j "$(nproc)" --timeout 600 "$@" || status=$?
end=$(date +%s)
echo "Windows stage: build $((built - start)) s, tests under Wine $((end - built)) s"
exit "$status"
