#!/bin/sh
# Runs one Windows program of the build under Wine, in a Wine prefix of its own.
#   wine-run.sh [--display] TEMPLATE PROGRAM.exe [ARGUMENT...]  (ctest's emulator for the Windows build)
#   wine-run.sh [--display] --session TEMPLATE COMMAND [ARGUMENT...]
#   wine-run.sh --make-template TEMPLATE                        (once per build folder)
#
# --display gives the run an X display of its own (Xvfb, 1280 x 1024): programs with windows,
# run side by side, then never share a pointer, a keyboard focus or a foreground window.
# --session runs COMMAND (a script on this side) with WINEPREFIX (and DISPLAY) set instead of
# one program, so that it can start several Windows programs in the one prefix: a window and
# the driver that clicks it, for example.
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

display=0
session=0
while :; do
  case "${1:-}" in
  --display) display=1 ;;
  --session) session=1 ;;
  *) break ;;
  esac
  shift
done
template=${1:?template folder}
shift
[ -f "$template/kiv-template.stamp" ] || fail "no Wine prefix template at $template (build the target kiv_wine_template)"
command -v wine >/dev/null || fail "wine is not installed"

prefix=$(mktemp -d "${TMPDIR:-/tmp}/kiv-wine.XXXXXX") || fail "cannot make a Wine prefix below ${TMPDIR:-/tmp}"
xvfb=
cleanup() {
  WINEPREFIX=$prefix wineserver --kill >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver --wait >/dev/null 2>&1
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
  fi
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

if [ "$display" = 1 ]; then
  # Xvfb picks a free display number and writes it to the pipe once it accepts clients; if it
  # fails to start, the pipe ends empty.
  command -v Xvfb >/dev/null || fail "Xvfb is not installed (package xvfb)"
  mkfifo "$prefix/display" || fail "cannot make a pipe in $prefix"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$prefix/display" >"$prefix/xvfb.log" 2>&1 &
  xvfb=$!
  read -r number <"$prefix/display"
  [ -n "$number" ] || fail "Xvfb did not start: $(tail -3 "$prefix/xvfb.log")"
  export DISPLAY=":$number"
fi

export WINEPREFIX="$prefix"
if [ "$session" = 1 ]; then
  # One wineserver for the whole session, started before any program: two programs started
  # together would otherwise race to start it, and one of them fails. It stays 30 s after
  # its last program, not for ever: a session killed outright (ctest's time-out kills the
  # processes, so no trap runs) leaves no server behind.
  wineserver -p30 || fail "wineserver did not start in $prefix"
  "$@"
else
  wine "$@"
fi
status=$?
exit $status
