#!/usr/bin/env bash
# The long soak: 1000 runs from seed 100000 (or RUNS from SEED), niced, in three parallel
# shards (KIV_SOAK_JOBS) at the test time scale. The run lines, the faults drawn per kind
# and the summary line go to standard output; keep them with tee:
#
#   scripts/soak-long.sh [RUNS [SEED]] | tee soak-long.log
#
# Most of a run is waiting (scaled pauses and time-outs), so three shards share two cores
# well; about an hour on a two-core machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-1000}
seed=${2:-100000}
export KIV_SOAK_JOBS=${KIV_SOAK_JOBS:-3}
exec nice -n 10 "$root/scripts/soak.sh" "$runs" "$seed"
