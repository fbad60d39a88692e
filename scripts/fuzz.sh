#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a while.
#   scripts/fuzz.sh [BUILD_DIR] [SECONDS_PER_TARGET]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-fuzz}
seconds=${2:-300}
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac
shopt -s nullglob
targets=("$dir"/fuzz/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $dir/fuzz"
  exit 0
fi
for t in "${targets[@]}"; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  corpus="$dir/corpus/$name"
  mkdir -p "$corpus"
  seeds="$root/fuzz/seeds/${name#fuzz_}"
  echo "--- $name for ${seconds}s"
  args=("$corpus")
  [ -d "$seeds" ] && args+=("$seeds")
  "$t" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 "${args[@]}" 2>&1 |
    grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|crash|Done' || true
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "$name FAILED"; exit 1; }
done
