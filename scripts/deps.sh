#!/usr/bin/env bash
# Installs the Debian packages that are missing.
#   scripts/deps.sh                   everything: the build, the tests, the release
#   scripts/deps.sh --demo [--gui]    only what the demo builds: kivupgrade-cli, kivrouter-sim
#                                     and kivimage (and, with --gui, the window)
set -euo pipefail

# The programs the demo runs: compiler, CMake, and the libraries the command line links.
build=(cmake ninja-build g++ libcli11-dev nlohmann-json3-dev libsystemd-dev)
# The window (Qt 6 Widgets and D-Bus; the platform plugins it runs with).
window=(qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins)
# The tests, sanitizers, fuzzing, style checks and benchmarks; the help file and icons;
# dbus-daemon for the login manager's stand-in on a private bus.
tests=(clang libclang-rt-14-dev clang-format-14 clang-tidy-14
  libgtest-dev libgmock-dev libbenchmark-dev libqt6test6 dbus
  busybox-static fp-utils iproute2 xvfb xdotool imagemagick)
# Releases: man pages, packages and their checks.
release=(scdoc groff-base gzip dpkg-dev file lintian desktop-file-utils appstream)

packages=("${build[@]}" "${window[@]}" "${tests[@]}" "${release[@]}")
if [ "${1:-}" = --demo ]; then
  packages=("${build[@]}")
  [ "${2:-}" = --gui ] && packages+=("${window[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
