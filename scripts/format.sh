#!/usr/bin/env bash
# Checks or fixes the layout of every tracked C++ file of the project with clang-format and
# the repository's .clang-format.
#   scripts/format.sh --check   lists the files that are not formatted; exits 1 when any is
#   scripts/format.sh --fix     reformats them in place
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

usage() { echo "usage: scripts/format.sh --check | --fix" >&2; exit 2; }
[ $# -eq 1 ] || usage
mode=$1
case "$mode" in --check | --fix) ;; *) usage ;; esac

# The Debian package installs the versioned binary; a plain clang-format of another version
# could lay out the same file differently.
clang_format=${CLANG_FORMAT:-}
if [ -z "$clang_format" ]; then
  for c in clang-format-14 clang-format; do
    if command -v "$c" >/dev/null; then clang_format=$c; break; fi
  done
fi
if [ -z "$clang_format" ]; then
  echo "format.sh: clang-format is not installed (scripts/deps.sh installs clang-format-14)" >&2
  exit 1
fi

# Every tracked C++ source and header, whichever folder it is in (build directories and
# generated sources are not tracked; templates such as *.cpp.in are not C++ yet).
mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.hpp' '*.cc')
if [ ${#files[@]} -eq 0 ]; then
  echo "format.sh: no tracked C++ files found in $root" >&2
  exit 1
fi

if [ "$mode" = --fix ]; then
  printf '%s\0' "${files[@]}" | xargs -0 -n 32 -P "$(nproc)" "$clang_format" -i --style=file
  exit 0
fi

# --check: a dry run with -Werror reports "FILE:LINE:COL: error: code should be
# clang-formatted" for every place formatting would change; one line per such file. A file
# clang-format cannot read at all fails the run too.
# Each batch reports into a file of its own: parallel writers to one pipe mix their lines.
reports=$(mktemp -d)
trap 'rm -rf "$reports"' EXIT
printf '%s\0' "${files[@]}" | xargs -0 -n 32 -P "$(nproc)" sh -c \
  'd=$1; shift; "$0" --style=file --dry-run -Werror "$@" >/dev/null 2>"$(mktemp -p "$d")" || true' \
  "$clang_format" "$reports"
report=$(cat "$reports"/*)
mapfile -t unformatted < <(printf '%s\n' "$report" | grep -oE '^[^:]+:[0-9]+:[0-9]+: error: code should be clang-formatted' |
  cut -d: -f1 | sort -u)
other=$(printf '%s\n' "$report" | grep -E '(^|: )error: ' | grep -v 'code should be clang-formatted' || true)
if [ -n "$other" ]; then
  printf '%s\n' "$other" >&2
  echo "format.sh: clang-format failed" >&2
  exit 1
fi
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "These files are not formatted (scripts/format.sh --fix formats them):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "format.sh: ${#files[@]} files formatted"
