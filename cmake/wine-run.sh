#!/bin/sh
# Runs one Windows program of the build under Wine, in a Wine prefix of its own.
#   wine-run.sh TEMPLATE PROGRAM.exe [ARGUMENT...]   (ctest's emulator for the Windows build)
#   wine-run.sh --make-template TEMPLATE             (once per build folder)
#
# Making a prefix takes Wine about 15 s, so the build makes one template and every run gets
# a copy: the registry, the users' folders (with their temporary directory) and the rest are
# copied; the system folders (about 700 MB of DLLs that no program writes) are hard links.
# The run's prefix is made below TMPDIR and removed afterwards, with its wineserver.
# A template that is missing, or a Wine that fails to start, fails the run (exit 125).
set -u
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs .NET or HTML, and there is nothing to download them from.
export WINEDLLOVERRIDES="mscoree=;mshtml="

fail() {
  echo "wine-run.sh: $*" >&2
  exit 125
}

if [ "${1:-}" = "--make-template" ]; then
  template=${2:?template folder}
  rm -rf "$template"
  mkdir -p "$(dirname "$template")" || fail "cannot make $(dirname "$template")"
  WINEPREFIX=$template wineboot --init >/dev/null 2>&1 || fail "wineboot could not make the prefix $template"
  WINEPREFIX=$template wineserver --wait || fail "the wineserver of $template did not end"
  [ -f "$template/system.reg" ] && [ -d "$template/drive_c/windows/system32" ] ||
    fail "wineboot made no usable prefix in $template"
  # A program must run in it, or every test would fail for the same reason.
  WINEPREFIX=$template wine cmd.exe /c exit 7 >/dev/null 2>&1
  status=$?
  WINEPREFIX=$template wineserver --wait
  [ "$status" = 7 ] || fail "wine cannot run a program in $template (exit $status)"
  touch "$template/kiv-template.stamp"
  exit 0
fi

template=${1:?template folder}
shift
[ -f "$template/kiv-template.stamp" ] || fail "no Wine prefix template at $template (build the target kiv_wine_template)"
command -v wine >/dev/null || fail "wine is not installed"

prefix=$(mktemp -d "${TMPDIR:-/tmp}/kiv-wine.XXXXXX") || fail "cannot make a Wine prefix below ${TMPDIR:-/tmp}"
cleanup() {
  WINEPREFIX=$prefix wineserver --kill >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver --wait >/dev/null 2>&1
  rm -rf "$prefix"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir "$prefix/drive_c" || fail "cannot fill $prefix"
for entry in "$template"/drive_c/*; do
  case ${entry##*/} in
  windows | "Program Files" | "Program Files (x86)") cp -al "$entry" "$prefix/drive_c/" ;;
  *) cp -a "$entry" "$prefix/drive_c/" ;;
  esac || fail "cannot copy $entry into $prefix"
done
cp -a "$template"/*.reg "$template"/.update-timestamp "$template"/dosdevices "$prefix/" || fail "cannot copy the registry into $prefix"

WINEPREFIX=$prefix wine "$@"
status=$?
exit $status
