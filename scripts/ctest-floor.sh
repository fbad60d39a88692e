#!/usr/bin/env bash
# Runs the tests of one configuration and counts them: a run in which fewer tests ran than
# the configuration's floor in tests/floors.txt fails, however green it is, and so does a
# run that found no test at all.
#   scripts/ctest-floor.sh NAME BUILD_DIR [ctest arguments...]
# NAME is the configuration's line in tests/floors.txt (a name without a line there is an
# error). It prints "tests in NAME: R ran, S skipped (floor F)" at the end and appends
# "NAME R" to $KIV_STAGE_COUNT_FILE when that is set (scripts/test.sh adds them up).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
name=$1
dir=$2
shift 2
floors=$root/tests/floors.txt

floor=$(awk -v n="$name" '$1 == n { print $2 }' "$floors")
if ! [[ $floor =~ ^[0-9]+$ ]]; then
  echo "ctest-floor.sh: no floor for \"$name\" in tests/floors.txt" >&2
  exit 2
fi

junit=$(mktemp "${TMPDIR:-/tmp}/kiv-ctest-$name.XXXXXX.xml")
trap 'rm -f "$junit"' EXIT
status=0
ctest --test-dir "$dir" --no-tests=error --output-junit "$junit" "$@" || status=$?

# The summary element's counts; a test that skipped (or could not start) did not run.
summary=$(tr '\n\t' '  ' <"$junit" 2>/dev/null | grep -o '<testsuite [^>]*>' | head -1 || true)
count() { sed -n "s/.* $1=\"\\([0-9]*\\)\".*/\\1/p" <<<"$summary"; }
total=$(count tests)
skipped=$(count skipped)
disabled=$(count disabled)
if [ -z "$total" ]; then
  echo "ctest-floor.sh: ctest wrote no summary for $name (exit status $status)" >&2
  exit 1
fi
ran=$((total - ${skipped:-0} - ${disabled:-0}))
echo "tests in $name: $ran ran, $((total - ran)) skipped (floor $floor)"
if [ -n "${KIV_STAGE_COUNT_FILE:-}" ]; then
  echo "$name $ran" >>"$KIV_STAGE_COUNT_FILE"
fi
if [ "$status" -ne 0 ]; then
  exit "$status"
fi
if [ "$ran" -lt "$floor" ]; then
  echo "ctest-floor.sh: only $ran tests ran in $name, fewer than its floor of $floor (tests/floors.txt):" \
    "a configuration, a filter or the environment left tests out" >&2
  exit 1
fi
