#!/usr/bin/env bash
# The soak: RUNS upgrades against the virtual router, each with a seeded random set of 0 to 3
# faults, random values and random answer latency, families A and B, with and without the
# wireless images; every run is judged for false success, hang, slowness, leaked threads or
# descriptors, protocol violations and the end of run. Run i has seed SEED + i, so
#   scripts/soak.sh 1 SEED
# replays one run; a failing run prints that command.
#
#   scripts/soak.sh RUNS [SEED]          (SEED defaults to 1)
#
# It builds what it needs (in build/, or KIV_SOAK_BUILD), runs the runs in KIV_SOAK_JOBS
# (default 2) parallel shards at KIV_TIME_SCALE (default 0.05), and ends with one line
#   soak: runs=N false_successes=N hangs=N slow=N leaks=N violations=N failures_seen=N other=N
# (slow: longer than a few times the fault-free time of its images plus its faults' own
# delays; other: any other broken invariant). It exits 0 only when every count but runs
# and failures_seen is 0. KIV_SOAK_MODE=in-process or =process places every run there; by
# default the seed decides (one run in eight goes through kivupgrade-cli and kivrouter-sim).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() { sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; }
case "${1:-}" in
  ''|-h|--help) usage; [ -n "${1:-}" ]; exit $? ;;
esac
runs=$1
seed=${2:-1}
if ! [[ $runs =~ ^[0-9]+$ && $seed =~ ^[0-9]+$ ]] || [ "$runs" -lt 1 ]; then
  echo "soak.sh: RUNS and SEED are numbers, RUNS at least 1" >&2
  usage >&2
  exit 2
fi
build=${KIV_SOAK_BUILD:-$root/build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
jobs=${KIV_SOAK_JOBS:-2}

"$root/scripts/deps.sh"
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-$(command -v ccache || true)}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
# A build directory configured before the soak existed lists the test folders without it.
targets=$(cmake --build "$build" --target help)
if ! grep -q '^soak_test:' <<<"$targets"; then
  dirs=$(sed -n 's/^KIV_TEST_DIRS:STRING=//p' "$build/CMakeCache.txt")
  case ";$dirs;" in
    *";soak;"*|";all;") ;;
    *) dirs=${dirs:+$dirs;}soak ;;
  esac
  cmake -S "$root" -B "$build" "-DKIV_TEST_DIRS=$dirs" >/dev/null
fi
cmake --build "$build" --target soak_test kivupgrade-cli kivrouter-sim >/dev/null

export KIV_TIME_SCALE=${KIV_TIME_SCALE:-0.05}
export KIV_TEST_STRICT=1 QT_QPA_PLATFORM=offscreen
export KIV_TEST_BIN_DIR=$build
export KIV_SOAK_RUNS=$runs KIV_SOAK_SEED=$seed
export TMPDIR=$(mktemp -d /tmp/kiv-soak.XXXXXX)
out=$TMPDIR/out
mkdir -p "$out"
trap 'rm -rf "$TMPDIR"' EXIT

echo "soak: $runs run(s) from seed $seed in $jobs shard(s) at time scale $KIV_TIME_SCALE"
started=$(date +%s)
pids=()
for ((i = 0; i < jobs; i++)); do
  # Each shard's output goes to its log; its run lines (and a failed run's problems and
  # replay command) show as they come.
  (
    set -o pipefail
    GTEST_TOTAL_SHARDS=$jobs GTEST_SHARD_INDEX=$i "$build/tests/soak/soak_test" --gtest_brief=1 2>&1 |
      tee "$out/shard$i.log" |
      { grep --line-buffered -e '^soak: run ' -e '^soak: problems' -e '^  ' -e '^soak: replay' || true; }
  ) &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do
  wait "$pid" || status=1
done

# Add up the shards' counts.
summaries=$(grep -h '^soak: runs=' "$out"/shard*.log || true)
if [ "$(printf '%s\n' "$summaries" | grep -c '^soak: runs=')" -ne "$jobs" ]; then
  echo "soak: a shard ended without its summary (see below)" >&2
  tail -n 30 "$out"/shard*.log >&2
  status=1
fi
printf '%s\n' "$(grep -h '^soak: faults drawn:' "$out"/shard*.log || true)" | awk '
  { for (i = 4; i <= NF; ++i) { split($i, kv, "="); n[kv[1]] += kv[2]; if (!(kv[1] in seen)) { seen[kv[1]] = 1; order[++k] = kv[1] } } }
  END { line = "soak: faults drawn:"; for (i = 1; i <= k; ++i) line = line " " order[i] "=" n[order[i]]; print line }'
grep -h '^soak: slowest run:' "$out"/shard*.log | sort -t' ' -k6,6n | tail -n 1 || true
line=$(printf '%s\n' "$summaries" | awk '
  { for (i = 2; i <= NF; ++i) { split($i, kv, "="); n[kv[1]] += kv[2] } }
  END { printf "soak: runs=%d false_successes=%d hangs=%d slow=%d leaks=%d violations=%d failures_seen=%d other=%d\n",
        n["runs"], n["false_successes"], n["hangs"], n["slow"], n["leaks"], n["violations"], n["failures_seen"], n["other"] }')
echo "soak: took $(( $(date +%s) - started )) s"
echo "$line"
bad=$(echo "$line" | awk '{ s = 0; for (i = 3; i <= NF; ++i) { split($i, kv, "="); if (kv[1] != "failures_seen") s += kv[2] } print s }')
if [ "$bad" -ne 0 ] || [ "$status" -ne 0 ]; then
  exit 1
fi
