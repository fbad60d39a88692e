#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a while, or only the targets named.
#   scripts/fuzz.sh [BUILD_DIR] [SECONDS_PER_TARGET] [TARGET...]
# A TARGET is a program path or a name under BUILD_DIR/fuzz/. The command fails when any
# target crashes, reports a leak, exceeds the time allowed for one input or for the whole
# run, or runs out of memory, and when there is no target to run. The input that made a
# target fail is kept in BUILD_DIR/fuzz-artifacts/TARGET/ and the command that replays it
# is printed; each target's whole output is kept in BUILD_DIR/fuzz-logs/TARGET.log.
# KIV_FUZZ_INPUT_TIMEOUT sets the seconds one input may take (default 10).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-fuzz}
seconds=${2:-300}
shift $(($# < 2 ? $# : 2))
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac
input_timeout=${KIV_FUZZ_INPUT_TIMEOUT:-10}

targets=()
if [ $# -gt 0 ]; then
  for t in "$@"; do
    case "$t" in */*) ;; *) t="$dir/fuzz/$t" ;; esac
    [ -d "$(dirname "$t")" ] && t="$(cd "$(dirname "$t")" && pwd)/$(basename "$t")"
    targets+=("$t")
  done
else
  shopt -s nullglob
  for t in "$dir"/fuzz/fuzz_*; do
    [ -f "$t" ] && [ -x "$t" ] && targets+=("$t")
  done
  shopt -u nullglob
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz.sh: no fuzz targets in $dir/fuzz (configure with -DKIV_BUILD_FUZZ=ON and build)" >&2
  exit 1
fi

failed=()
for t in "${targets[@]}"; do
  name=$(basename "$t")
  if [ ! -x "$t" ]; then
    echo "--- $name: no such program ($t)"
    failed+=("$name")
    continue
  fi
  corpus="$dir/corpus/$name"
  artifacts="$dir/fuzz-artifacts/$name"
  log="$dir/fuzz-logs/$name.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  rm -f "$artifacts"/*
  args=("$corpus")
  seeds="$root/fuzz/seeds/${name#fuzz_}"
  [ -d "$seeds" ] && args+=("$seeds")
  echo "--- $name for ${seconds}s"
  status=0
  # The outer limit catches a target that hangs outside libFuzzer's own per-input timer.
  timeout --kill-after=10 $((seconds + input_timeout + 60)) \
    "$t" -max_total_time="$seconds" -timeout="$input_timeout" -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "${args[@]}" >"$log" 2>&1 || status=$?
  grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|Done' "$log" || true
  if [ "$status" -eq 0 ]; then
    continue
  fi
  failed+=("$name")
  case "$status" in
    124|137) echo "$name FAILED: still running after $((seconds + input_timeout + 60))s" ;;
    *) echo "$name FAILED (exit status $status); its output: $log" ;;
  esac
  grep -E '^(==[0-9]+==ERROR|ERROR: libFuzzer|SUMMARY)' "$log" | head -5 | sed 's/^/    /' || true
  kept=$(ls -t "$artifacts" 2>/dev/null | head -1)
  if [ -n "$kept" ]; then
    echo "    input kept: $artifacts/$kept"
    echo "    replay:     $t $artifacts/$kept"
  else
    echo "    no input was kept (the failure came outside one input)"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: ${#failed[@]} of ${#targets[@]} targets failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz.sh: ${#targets[@]} targets ran without a finding"
