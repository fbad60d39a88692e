#!/usr/bin/env bash
# The test command: installs what is missing, checks the layout, then builds and tests each
# configuration in turn (main, the sanitizers, a short fuzz run). Every stage configures its
# build folder with all of its options each time (a folder left from another run cannot
# change what is built), builds through ccache (the cache lives outside the clone), prints
# its time and how many tests ran at its end, and fails when fewer ran than its floor in
# tests/floors.txt. A summary of every stage closes the run.
#   KIV_TEST_QUICK=1 scripts/test.sh   runs only the layout check and the main configuration
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/deps.sh"

export KIV_TIME_SCALE=${KIV_TIME_SCALE_TESTS:-0.05}
export QT_QPA_PLATFORM=offscreen
# Every test that cannot run here (not root, a program missing, a suite not built) fails
# instead of skipping: a skip would hide a broken set-up. KIV_TEST_STRICT=0 allows skips.
export KIV_TEST_STRICT=${KIV_TEST_STRICT:-1}
# Keep the download log of test runs out of the user's own temporary directory.
TMPDIR=$(mktemp -d /tmp/kiv-test.XXXXXX)
export TMPDIR
export KIV_STAGE_COUNT_FILE=$TMPDIR/stage-counts

# ccache, keyed on paths relative to the clone, so that another clone of the same tree on
# this machine finds the objects of an earlier run.
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
ccache=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Compilers by full path: the form CMake keeps in its cache, so naming them again each time
# changes nothing, while another compiler left in a folder is replaced (gcc for the main
# configuration: scripts/main-options.sh).
clang=(-DCMAKE_C_COMPILER="$(command -v clang)" -DCMAKE_CXX_COMPILER="$(command -v clang++)")
jobs=$(nproc)
every_test_folder=-DKIV_TEST_DIRS=all

summary=()
stage_name=
stage_start=0
# The end of the stage that runs: its time and how many tests it ran, as `outcome`.
end_stage() {
  local outcome=$1 elapsed=$((SECONDS - stage_start)) tests
  tests=$(awk '{ n += $2 } END { print n + 0 }' "$KIV_STAGE_COUNT_FILE")
  printf '=== %s: %s in %dm %02ds, %d tests ran ===\n' "$stage_name" "$outcome" $((elapsed / 60)) $((elapsed % 60)) "$tests"
  summary+=("$(printf '%-62s %-6s %3dm %02ds %5d tests' "$stage_name" "$outcome" $((elapsed / 60)) $((elapsed % 60)) "$tests")")
  stage_name=
}
# stage NAME COMMAND...: runs one stage of the test command.
stage() {
  stage_name=$1
  stage_start=$SECONDS
  shift
  printf '\n=== %s ===\n' "$stage_name"
  : >"$KIV_STAGE_COUNT_FILE"
  "$@"
  end_stage passed
}
# At the end, passed or not: the stage that failed, then every stage's time and test count.
finish() {
  local status=$?
  if [ -n "$stage_name" ]; then
    end_stage FAILED
  fi
  printf '\n=== summary ===\n'
  [ ${#summary[@]} -eq 0 ] || printf '%s\n' "${summary[@]}"
  printf 'total %dm %02ds: %s\n' $((SECONDS / 60)) $((SECONDS % 60)) "$([ "$status" = 0 ] && echo passed || echo FAILED)"
  rm -rf "$TMPDIR"
}
trap finish EXIT

main_configuration() {
  source scripts/main-options.sh
  scripts/build.sh build "${main_options[@]}"
  scripts/ctest-floor.sh main build --output-on-failure -j "$jobs" --timeout 600
}

address_sanitizer() {
  scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug "${clang[@]}" \
    "${ccache[@]}" "-DKIV_SANITIZE=address;undefined" -DKIV_BUILD_FUZZ=OFF -DKIV_BUILD_TESTS=ON -DKIV_BUILD_GUI=OFF \
    -DKIV_BUILD_BENCH=OFF "$every_test_folder"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    scripts/ctest-floor.sh asan build-asan --output-on-failure -j "$jobs" --timeout 900
}

thread_sanitizer() {
  scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=Debug "${clang[@]}" \
    "${ccache[@]}" -DKIV_SANITIZE=thread -DKIV_BUILD_FUZZ=OFF -DKIV_BUILD_TESTS=ON -DKIV_BUILD_GUI=OFF \
    -DKIV_BUILD_BENCH=OFF "-DKIV_TEST_DIRS=platform;net;diag;sim;engine;app;soak"
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    scripts/ctest-floor.sh tsan build-tsan --output-on-failure -j "$jobs" --timeout 900
}

fuzz_smoke_run() {
  scripts/build.sh build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo "${clang[@]}" \
    "${ccache[@]}" -DKIV_SANITIZE= -DKIV_BUILD_FUZZ=ON -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_GUI=OFF -DKIV_BUILD_BENCH=OFF
  # First the self-test: targets that crash, leak, hang and run out of memory on purpose
  # must each make fuzz.sh fail.
  scripts/ctest-floor.sh fuzz-selftest build-fuzz --output-on-failure --timeout 600
  scripts/fuzz.sh build-fuzz "${KIV_FUZZ_SECONDS:-20}"
}

# Layout first: it takes seconds, and an unformatted file fails the run before any build.
stage "layout (clang-format)" scripts/format.sh --check
stage "main configuration (gcc)" main_configuration
if [ "${KIV_TEST_QUICK:-0}" = 1 ]; then
  exit 0
fi
stage "AddressSanitizer and UndefinedBehaviorSanitizer (clang)" address_sanitizer
stage "ThreadSanitizer (clang), threaded folders and the short soak" thread_sanitizer
stage "fuzz smoke run (libFuzzer)" fuzz_smoke_run
stage "Windows build (MinGW-w64), its tests under Wine" scripts/test-windows.sh
# A stage is one line: stage "NAME" COMMAND... The command builds what it needs and counts its
# tests with scripts/ctest-floor.sh NAME BUILD_DIR (and a line NAME FLOOR in tests/floors.txt).
