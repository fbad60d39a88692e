#!/usr/bin/env bash
# Installs the Debian packages that are missing.
#   scripts/deps.sh                   everything: the build, the tests, the release, Windows
#   scripts/deps.sh --demo [--gui]    only what the demo builds: kivupgrade-cli, kivrouter-sim
#                                     and kivimage (and, with --gui, the window)
#   scripts/deps.sh --windows         only those of the Windows build (scripts/build-windows.sh)
set -euo pipefail

# The programs the demo runs: compiler, CMake, and the libraries the command line links.
build=(cmake ninja-build g++ libcli11-dev nlohmann-json3-dev libsystemd-dev)
# The window (Qt 6 Widgets and D-Bus; the platform plugins it runs with).
window=(qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins)
# The tests (built through ccache), sanitizers, fuzzing, style checks and benchmarks; the help file and icons;
# dbus-daemon for the login manager's stand-in on a private bus; tshark and tcpdump for the
# dissector's tests and scripts/capture.sh.
tests=(ccache clang libclang-rt-14-dev clang-format-14 clang-tidy-14
  libgtest-dev libgmock-dev libbenchmark-dev libqt6test6 dbus
  busybox-static fp-utils iproute2 xvfb xdotool imagemagick tshark tcpdump)
# Releases: man pages, packages and their checks.
release=(scdoc groff-base gzip dpkg-dev file lintian desktop-file-utils appstream)
# The Windows build: MinGW-w64's posix compilers and windres, the header-only libraries,
# GoogleTest's sources, Wine to run the tests, ImageMagick for the icons and the window's
# screenshots, fp-utils (chmcmd) for the help file, Xvfb and xdotool for the window's tests.
windows=(cmake ninja-build ccache g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libcli11-dev nlohmann-json3-dev googletest wine imagemagick fp-utils xvfb xdotool)

packages=("${build[@]}" "${window[@]}" "${tests[@]}" "${release[@]}" "${windows[@]}")
case "${1:-}" in
  --demo)
    packages=("${build[@]}")
    [ "${2:-}" = --gui ] && packages+=("${window[@]}")
    ;;
  --windows) packages=("${windows[@]}") ;;
esac

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
# tshark's wireshark-common asks whether non-root users may capture: answer it beforehand
# (no), so that apt never stops to ask.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
