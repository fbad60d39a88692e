#!/usr/bin/env bash
# Brings the whole tree to the style the tools enforce, in three commits of its own:
#   1. names: misnamed identifiers renamed (scripts/style_apply.py names: constants to
#      UPPER_CASE, members to m_..., classes to C...; files named after a renamed class follow)
#   2. test files: tests/**/test_NAME.cpp renamed NameTest.cpp
#   3. layout: scripts/format.sh --fix
# then builds everything, runs the naming check and the format check, and the main ctest.
#   scripts/apply-style.sh [--no-commit] [--no-test]
# Run it on a clean work tree. Every rename is printed; a new name that already exists in
# the tree stops the run before anything is written.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

commit=1
run_tests=1
for a in "$@"; do
  case "$a" in
    --no-commit) commit=0 ;;
    --no-test) run_tests=0 ;;
    *) echo "usage: scripts/apply-style.sh [--no-commit] [--no-test]" >&2; exit 2 ;;
  esac
done
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "apply-style.sh: the work tree has changes; commit or stash them first" >&2
  exit 1
fi

"$root/scripts/deps.sh"
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
step() { printf '\n=== %s ===\n' "$*"; }
started=$(date +%s)

# Compile databases: the main build (window, tests, benchmarks) and the fuzz targets, which
# only a clang configuration compiles (configured, not built).
step "compile databases"
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-style-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKIV_BUILD_FUZZ=ON -DKIV_BUILD_GUI=OFF -DKIV_BUILD_BENCH=OFF -DKIV_BUILD_TESTS=OFF >/dev/null

step "names"
names_status=0
# STYLE_FIXES=DIR keeps clang-tidy's findings in DIR, and reuses them when DIR is not empty
# (after a dry run: python3 scripts/style_apply.py names build build-style-fuzz --dry-run --fixes DIR).
python3 scripts/style_apply.py names build build-style-fuzz ${STYLE_FIXES:+--fixes "$STYLE_FIXES"} || names_status=$?
# 3: renamed what it could, some names need a person (checked again below); else a failure.
if [ "$names_status" -ne 0 ] && [ "$names_status" -ne 3 ]; then
  echo "apply-style.sh: renaming failed; the tree was clean before, git reset --hard HEAD restores it" >&2
  exit 1
fi
if [ "$commit" = 1 ] && [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  git commit -q -a -m "Names the naming check asks for: constants UPPER_CASE (the k-prefixed ones renamed), data members m_..., classes C... with their files"
fi

step "test files"
python3 scripts/style_apply.py test-files
if [ "$commit" = 1 ] && [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  git commit -q -a -m "Test sources named NameTest.cpp throughout (the widget tests were test_name.cpp)"
fi

step "layout"
scripts/format.sh --fix
if [ "$commit" = 1 ] && [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  git commit -q -a -m "Format the tree with clang-format (.clang-format); no change but layout"
fi
echo "apply-style.sh: changes made in $(( $(date +%s) - started )) s"

step "check"
scripts/build.sh build
scripts/format.sh --check
scripts/tidy.sh build
if [ "$names_status" -ne 0 ]; then
  echo "apply-style.sh: some names need a person (listed above)" >&2
  exit 1
fi
if [ "$run_tests" = 1 ]; then
  KIV_TEST_QUICK=1 scripts/test.sh
fi
echo "apply-style.sh: done in $(( $(date +%s) - started )) s"
