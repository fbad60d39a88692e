#!/usr/bin/env bash
# Builds the Windows programs: cross-compiled with MinGW-w64 in a build folder of their own
# (build-windows/, through ccache when it is installed), linked statically, and written
# without their debugging symbols to DIR.
#   scripts/build-windows.sh [--out DIR]   (DIR defaults to out/windows)
# KIV_WINDOWS_BUILD_ALL=1 builds the whole folder, tests included (scripts/test-windows.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/out/windows
while [ $# -gt 0 ]; do
  case "$1" in
  --out) out=${2:?--out needs a folder}; shift 2 ;;
  *) echo "usage: scripts/build-windows.sh [--out DIR]" >&2; exit 2 ;;
  esac
done
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac

"$root/scripts/deps.sh" --windows

dir=$root/build-windows
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Configured with all its options every time, so nothing stale in the cache survives.
cmake -S "$root" -B "$dir" -G Ninja --toolchain "$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_BUILD_TESTS=ON "${launcher[@]}" >/dev/null

# The programs of the Windows build; kivupgrade.exe joins once the window links
# (KIV_WINDOWS_WINDOW_PROGRAM in cmake/KivWindows.cmake).
programs=(tools/kivimage/kivimage)
if grep -q '^build cli/kivupgrade-cli.exe:' "$dir/build.ninja" 2>/dev/null; then
  programs+=(cli/kivupgrade-cli)
fi
if grep -q '^build win/kivupgrade.exe:' "$dir/build.ninja" 2>/dev/null; then
  programs+=(win/kivupgrade)
fi
if [ "${KIV_WINDOWS_BUILD_ALL:-0}" = 1 ]; then
  cmake --build "$dir" -j "$(nproc)"
else
  cmake --build "$dir" -j "$(nproc)" --target "${programs[@]##*/}"
fi

# Linked statically: a program may load Windows' own DLLs and nothing else (no libstdc++,
# libgcc or winpthread DLL that a Windows PC would not have).
windows_dlls='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|version|ws2_32|iphlpapi|msvcrt|ntdll|uxtheme|shlwapi|bcrypt|powrprof)\.dll$'
mkdir -p "$out"
for program in "${programs[@]}"; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$dir/$program.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  foreign=$(grep -Ev "$windows_dlls" <<<"$dlls" || true)
  if [ -n "$foreign" ]; then
    echo "build-windows.sh: $program.exe needs DLLs that Windows does not have: $foreign" >&2
    exit 1
  fi
  x86_64-w64-mingw32-strip -o "$out/${program##*/}.exe" "$dir/$program.exe"
  echo "wrote $out/${program##*/}.exe ($(tr '\n' ' ' <<<"$dlls"))"
done
