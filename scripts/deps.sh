#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when any is missing.
#   scripts/deps.sh            every package below
#   scripts/deps.sh --windows  only those of the Windows build (scripts/build-windows.sh)
set -euo pipefail

# The Windows build: MinGW-w64's posix compilers and windres, the header-only libraries,
# GoogleTest's sources, Wine to run the tests, ImageMagick for the icons and the window's
# screenshots, fp-utils (chmcmd) for the help file, Xvfb and xdotool for the window's tests.
windows_packages=(
  cmake ninja-build ccache g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libcli11-dev nlohmann-json3-dev googletest wine imagemagick fp-utils xvfb xdotool
)
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format-14 clang-tidy-14
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libqt6test6 qt6-qpa-plugins
  libcli11-dev nlohmann-json3-dev
  busybox-static fp-utils iproute2 xvfb xdotool imagemagick
  scdoc groff-base gzip dpkg-dev file lintian desktop-file-utils appstream
  tshark tcpdump
  "${windows_packages[@]}"
)
if [ "${1:-}" = "--windows" ]; then
  packages=("${windows_packages[@]}")
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
# tshark's wireshark-common asks whether non-root users may capture: answer it beforehand
# (no), so that apt never stops to ask.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
