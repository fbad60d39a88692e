#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy (identifier naming) over the project's own
# sources in a build's compile database; exits 1 when any name breaks the rules.
#   scripts/tidy.sh [BUILD_DIR] [FILE_REGEX...]
# BUILD_DIR defaults to build (built first when it has no compile database yet). FILE_REGEX
# limits the run to matching source paths, e.g. scripts/tidy.sh build '/diag/'.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

dir=${1:-build}
shift || true
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac
if [ ! -f "$dir/compile_commands.json" ]; then
  "$root/scripts/build.sh" "$dir"
fi

run_tidy=""
for c in run-clang-tidy-14 run-clang-tidy; do
  if command -v "$c" >/dev/null; then run_tidy=$c; break; fi
done
tidy=""
for c in clang-tidy-14 clang-tidy; do
  if command -v "$c" >/dev/null; then tidy=$c; break; fi
done
if [ -z "$run_tidy" ] || [ -z "$tidy" ]; then
  echo "tidy.sh: clang-tidy is not installed (scripts/deps.sh installs clang-tidy-14)" >&2
  exit 1
fi

# The project's folders: every top-level folder holding a tracked C++ file. Generated sources
# in the build directory and system headers stay out.
mapfile -t folders < <(git ls-files -- '*.cpp' '*.h' | grep / | cut -d/ -f1 | sort -u)
pattern="^$root/($(IFS='|'; echo "${folders[*]}"))/"
files=("$@")
if [ ${#files[@]} -eq 0 ]; then
  files=("$pattern")
  # A whole-tree run checks that the database holds every tracked source. A build directory
  # configured with an older KIV_TEST_DIRS leaves test folders out, and their names would go
  # unchecked without a word. The fuzz targets need a clang configuration of their own
  # (KIV_BUILD_FUZZ=ON), and the missing-suite placeholder is only built when a suite is missing.
  # The Windows-only sources (*Win32.cpp) are in the Windows build's database instead (below).
  missing=$(git ls-files -- '*.cpp' ':!fuzz/' ':!tests/support/placeholder/' ':!*Win32.cpp' ':!*Win32Test.cpp' | python3 -c '
import json, os, sys
root, db = sys.argv[1], sys.argv[2]
known = {os.path.normpath(os.path.join(e["directory"], e["file"])) for e in json.load(open(db))}
for line in sys.stdin:
    if os.path.join(root, line.strip()) not in known:
        print(line.strip())
' "$root" "$dir/compile_commands.json")
  if [ -n "$missing" ]; then
    printf '%s\n' "$missing" >&2
    echo "tidy.sh: the sources above are in no compile database of $dir, so their names would go unchecked;" \
      "configure it with every test folder (cmake -U KIV_TEST_DIRS $dir)" >&2
    exit 1
  fi
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
"$run_tidy" -quiet -clang-tidy-binary "$(command -v "$tidy")" -p "$dir" -j "$(nproc)" \
  -header-filter "$pattern" "${files[@]}" >"$log" 2>&1 || status=$?

# A whole-tree run also checks the Windows-only sources, in the Windows build's database
# (scripts/build-windows.sh makes it), read by clang for the MinGW-w64 target with the
# cross compiler's C++ library.
if [ $# -eq 0 ]; then
  windows_dir=${KIV_TIDY_WINDOWS_DIR:-$root/build-windows}
  if [ ! -f "$windows_dir/compile_commands.json" ]; then
    echo "tidy.sh: $windows_dir has no compile database, so the names of the Windows sources would go unchecked;" \
      "run scripts/build-windows.sh first (or set KIV_TIDY_WINDOWS_DIR)" >&2
    exit 1
  fi
  mapfile -t windows_files < <(git ls-files -- '*Win32.cpp' '*Win32Test.cpp' | sed "s|^|$root/|")
  cxx=/usr/lib/gcc/x86_64-w64-mingw32/12-posix/include/c++
  "$run_tidy" -quiet -clang-tidy-binary "$(command -v "$tidy")" -p "$windows_dir" -j "$(nproc)" \
    -extra-arg=--target=x86_64-w64-mingw32 -extra-arg=-isystem$cxx -extra-arg=-isystem$cxx/x86_64-w64-mingw32 \
    -extra-arg=-isystem/usr/x86_64-w64-mingw32/include \
    -header-filter "$pattern" "${windows_files[@]}" >>"$log" 2>&1 || status=$?
fi

# A header's finding repeats for every source that includes it: show each once.
findings=$(sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E '^/.*: (warning|error): ' | sort -u || true)
if [ -n "$findings" ]; then
  printf '%s\n' "$findings" | sed "s|^$root/||"
  echo "tidy.sh: $(printf '%s\n' "$findings" | wc -l) naming findings" >&2
  exit 1
fi
if [ "$status" -ne 0 ]; then
  sed 's/\x1b\[[0-9;]*m//g' "$log" | tail -40 >&2
  echo "tidy.sh: clang-tidy failed" >&2
  exit 1
fi
echo "tidy.sh: no naming findings"
