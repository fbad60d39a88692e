#!/usr/bin/env bash
# Self-test of scripts/fuzz.sh: each target of fuzz/selftest (a crash, a leak, a hang and an
# allocation over the memory limit, on purpose) must make it fail, keep the input that did
# it and print the replay command; replaying the kept input must fail the same way; a build
# without targets must fail too.
#   fuzz/selftest/check-fuzz-sh.sh BUILD_DIR
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=$(cd "${1:?usage: check-fuzz-sh.sh BUILD_DIR}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kiv-fuzz-selftest.XXXXXX")
trap 'rm -rf "$work"' EXIT
problems=0
problem() { echo "PROBLEM: $*"; problems=$((problems + 1)); }

# kind, then the text the target's failure report must contain
for case in "crash:heap-buffer-overflow" "leak:detected memory leaks" "timeout:libFuzzer: timeout" \
            "oom:libFuzzer: out-of-memory"; do
  kind=${case%%:*}
  report=${case#*:}
  target="$dir/fuzz/selftest/selftest_$kind"
  out="$work/$kind.out"
  echo "=== fuzz.sh on selftest_$kind"
  if KIV_FUZZ_INPUT_TIMEOUT=2 "$root/scripts/fuzz.sh" "$dir" 30 "$target" >"$out" 2>&1; then
    problem "fuzz.sh exited 0 on selftest_$kind"
  fi
  cat "$out"
  grep -q "selftest_$kind FAILED" "$out" || problem "no FAILED line for selftest_$kind"
  grep -qF "$report" "$dir/fuzz-logs/selftest_$kind.log" || problem "selftest_$kind did not report '$report'"
  kept=$(sed -n 's/^ *input kept: //p' "$out")
  [ -n "$kept" ] && [ -s "$kept" ] || { problem "no kept input for selftest_$kind"; continue; }
  case "$(basename "$kept")" in "$kind"-*) ;; *) problem "kept input $kept is not a $kind artifact" ;; esac
  replay=$(sed -n 's/^ *replay: *//p' "$out")
  [ "$replay" = "$target $kept" ] || problem "replay line '$replay' is not '$target $kept'"
  if [ "$kind" != timeout ]; then
    # shellcheck disable=SC2086
    if $replay >"$work/$kind.replay" 2>&1; then
      problem "replaying $kept succeeded"
    fi
  fi
done

echo "=== fuzz.sh on a build without targets"
mkdir -p "$work/empty/fuzz"
if "$root/scripts/fuzz.sh" "$work/empty" 1 >"$work/empty.out" 2>&1; then
  problem "fuzz.sh exited 0 without targets"
fi
cat "$work/empty.out"

if [ "$problems" -ne 0 ]; then
  echo "check-fuzz-sh: $problems problems"
  exit 1
fi
echo "check-fuzz-sh: every finding failed fuzz.sh, with its input kept and a replay command"
