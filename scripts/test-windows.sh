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
# The command line's end-to-end suites run again with kivupgrade-cli.exe (tests/cli/
# CliUnderWine.cmake), and kivupgrade.exe is clicked (tests/win/WindowClickTest.sh): their
# Linux test programs and kivrouter-sim come from the main configuration's folder, build/,
# which the test command builds in an earlier stage. Here
# only what they need is built there (configured as the test command does, when the folder is
# not there yet), before the Windows folder is configured, which lists their cases.
linux_targets=(kivrouter-sim kivupgrade-cli kivimage test_cli_check test_cli_upgrade test_cli_discover
  test_cli_inputs test_cli_safety test_cli_same_results)
if [ ! -f build/CMakeCache.txt ]; then
  source scripts/main-options.sh
  cmake -S . -B build -G Ninja "${main_options[@]}" >/dev/null
fi
cmake --build build -j "$(nproc)" --target "${linux_targets[@]}"
linux_built=$(date +%s)
KIV_WINDOWS_BUILD_ALL=1 scripts/build-windows.sh
built=$(date +%s)

status=0
# The longest test here takes about 16 s; a test that hangs fails after 180 s instead of
# holding the stage for ctest's usual 600 s (a test that needs longer sets its own TIMEOUT).
scripts/ctest-floor.sh windows build-windows --output-on-failure -j "$(nproc)" --timeout 180 "$@" || status=$?
end=$(date +%s)
echo "Windows stage: Linux side $((linux_built - start)) s, build $((built - linux_built)) s," \
  "tests under Wine $((end - built)) s"
exit "$status"
