#!/usr/bin/env bash
# Configures and builds one configuration.
#   scripts/build.sh [DIR] [cmake arguments...]   (DIR defaults to build)
# The arguments are applied on every call, not only when DIR is new: a folder configured
# before keeps only what they do not name. The test command names every option of each of
# its configurations, so nothing left in a folder from another run changes what it builds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build}
shift || true
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$dir" -G Ninja "$@"
else
  cmake -S "$root" -B "$dir" "$@" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)"
