#!/usr/bin/env bash
# Configures and builds one configuration.
#   scripts/build.sh [DIR] [extra cmake arguments...]   (DIR defaults to build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build}
shift || true
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$dir" -G Ninja "$@"
elif [ $# -gt 0 ]; then
  cmake -S "$root" -B "$dir" "$@" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)"
