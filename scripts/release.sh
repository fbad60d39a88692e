#!/usr/bin/env bash
# Makes a release: the programs and one verified set of images, as two Debian packages
# (kivupgrade: the window and the command line; kivupgrade-tools: kivrouter-sim and
# kivimage) and a tarball of the same files; with --windows, a zip for Windows instead.
#
#   scripts/release.sh --images DIR [--embed] [--version V] [--out DIR]
#                      [--build DIR] [--maintainer "NAME <ADDRESS>"] [--no-deps]
#   scripts/release.sh --windows --images DIR [--out DIR] [--build DIR] [--no-deps]
#
# --images DIR   the release's images: every *.bin file in DIR, verified and classified
#                as the programs do; other files are ignored
# --embed        compile the images into the programs (only BOOT, APP, Customization and
#                Firmware can be); by default they go to /usr/share/kivupgrade/images
# --version V    the release's version (window title, --version, packages); default the
#                project's
# --out DIR      where the packages go (default out/)
# --build DIR    the main build whose objects are linked (default build/; configured and
#                built when missing)
# --maintainer   the packages' maintainer (default $DEBFULLNAME <$DEBEMAIL> when set)
# --no-deps      do not install missing Debian packages first (scripts/deps.sh)
# --windows      kivupgrade-VERSION-windows-x64.zip: the Windows programs built so far
#                (scripts/build-windows.sh: kivupgrade.exe, kivupgrade-cli.exe and
#                kivimage.exe), the images beside them, README.txt, the licence and the Wireshark
#                dissector. The images are verified as above, with the main build's
#                kivimage. The programs carry the project's version, and so does the zip
#                (--version may only repeat it; --embed is still to come on Windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export LC_COLLATE=C  # files in byte order, as the programs read them
started=$(date +%s)

images=
embed=0
version=
out=$root/out
build=$root/build
maintainer=
deps=1
windows=0
if [ -n "${DEBEMAIL:-}" ]; then
  maintainer="${DEBFULLNAME:-KivUpgrade developers} <$DEBEMAIL>"
fi

usage() { sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//'; }
fail() { echo "release.sh: $*" >&2; exit 1; }
usage_error() { echo "release.sh: $*" >&2; usage >&2; exit 2; }
need_value() { [ $# -ge 2 ] && [ -n "$2" ] || usage_error "$1 needs a value"; }

while [ $# -gt 0 ]; do
  case "$1" in
    --images) need_value "$@"; images=$2; shift 2 ;;
    --embed) embed=1; shift ;;
    --version) need_value "$@"; version=$2; shift 2 ;;
    --out) need_value "$@"; out=$2; shift 2 ;;
    --build) need_value "$@"; build=$2; shift 2 ;;
    --maintainer) need_value "$@"; maintainer=$2; shift 2 ;;
    --no-deps) deps=0; shift ;;
    --windows) windows=1; shift ;;
    -h|--help) usage; exit 0 ;;
    *) usage_error "unknown option $1" ;;
  esac
done
[ -n "$images" ] || usage_error "--images DIR is required"
[ -d "$images" ] || fail "--images $images: no such directory"
images=$(cd "$images" && pwd)
case "$out" in /*) ;; *) out=$PWD/$out ;; esac
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
if [ -n "$version" ] && ! [[ $version =~ ^[0-9][A-Za-z0-9.+~]*$ ]]; then
  usage_error "--version $version: a version starts with a digit and holds only letters, digits and . + ~"
fi
if [ "$windows" = 1 ]; then
  [ "$embed" = 0 ] || usage_error "--embed: the Windows programs cannot carry the images yet; release them beside the programs"
  project_version=$(sed -n 's/^project(KivUpgrade VERSION \([^ ]*\) .*$/\1/p' "$root/CMakeLists.txt")
  if [ -n "$version" ] && [ "$version" != "$project_version" ]; then
    usage_error "--version $version: the Windows programs carry the project's version, $project_version"
  fi
  version=$project_version
fi
if [ -n "$maintainer" ] && ! [[ $maintainer =~ ^[^\<\>]+\ \<[^\<\>@\ ]+@[^\<\>@\ ]+\>$ ]]; then
  usage_error "--maintainer $maintainer: expected \"NAME <ADDRESS>\""
fi

# ---- the main build: the objects and programs the release is made of ------------------------
if [ "$deps" = 1 ]; then
  "$root/scripts/deps.sh"
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "== configuring the main build in $build"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
kivimage=$build/tools/kivimage/kivimage
if [ "$windows" = 1 ]; then
  # Only the image tool, which verifies the images.
  echo "== building kivimage ($build)"
  cmake --build "$build" --target kivimage -j "$(nproc)" >/dev/null || fail "the main build in $build cannot build kivimage"
else
  echo "== building the programs ($build)"
  cmake --build "$build" --target release-inputs -j "$(nproc)" >/dev/null \
    || fail "the main build in $build cannot make a release: it needs the window and no sanitizers"
  [ -f "$build/KivBuild.cmake" ] || fail "the main build in $build cannot make a release: it needs the window and no sanitizers"
fi
if [ -z "$version" ]; then
  version=$(sed -n 's/^set(KIV_BUILD_VERSION "\(.*\)")$/\1/p' "$build/KivBuild.cmake")
fi

# ---- verify and classify the images --------------------------------------------------------
# Each image is classified under a path that holds "ZQPX" only when its file name does, as
# it will be where the programs find it (the path decides the kind of some wireless images).
stage=
cleanup() { if [ -n "$stage" ]; then rm -rf "$stage"; fi; }
trap cleanup EXIT
while :; do
  stage=$(mktemp -d "${TMPDIR:-/tmp}/kiv-release.XXXXXX")
  case "$stage" in *ZQPX*) rm -rf "$stage"; stage=$(mktemp -d /tmp/kiv-release.XXXXXX) ;; esac
  case "$stage" in *ZQPX*) rm -rf "$stage" ;; *) break ;; esac
done
mkdir "$stage/images"

declare -A resource_ids=([boot]=148 [app]=144 [customization]=147 [firmware]=146)
declare -A by_type=()
image_files=()
embed_entries=()
echo "== verifying the images in $images"
for file in "$images"/*; do
  [ -f "$file" ] || continue
  name=${file##*/}
  lower=${name,,}
  if [ "${lower%.bin}" = "$lower" ]; then
    echo "   ignoring $name: not a .bin file"
    continue
  fi
  [[ $name =~ ^[A-Za-z0-9._+~-]+$ ]] \
    || fail "$file: an image's file name may hold only letters, digits and . _ + ~ -"
  copy=$stage/images/$name
  cp -- "$file" "$copy"
  if ! result=$("$kivimage" verify "$copy" 2>&1); then
    result=${result#kivimage: }
    result=${result#"$copy: "}
    fail "$file: ${result% (expected type none)}"
  fi
  type=$(sed -n 's/^.*: valid \([a-z-]*\) image, .*$/\1/p' <<<"$result")
  parts=$(sed -n 's/^.*, \([0-9]*\) parts\{0,1\}$/\1/p' <<<"$result")
  [ -n "$type" ] && [ -n "$parts" ] || fail "$file: cannot read the type from: $result"
  case "$type" in
    firmware|dashboard) ;;
    *) [ "$parts" = 1 ] || fail "$file: router images must have exactly one part (it has $parts)" ;;
  esac
  if [ -n "${by_type[$type]:-}" ]; then
    fail "$file and ${by_type[$type]} are both $type images: a release carries one image of each type"
  fi
  by_type[$type]=$file
  if [ "$embed" = 1 ]; then
    id=${resource_ids[$type]:-}
    [ -n "$id" ] || fail "$file: an image of type $type cannot be embedded: the programs carry only boot, app, customization and firmware images as resources (make the release without --embed to package it as a file)"
    embed_entries+=("$id=$copy")
  else
    image_files+=("$copy")
  fi
  echo "   $name: $type, ${result##*, version }"
done
[ ${#by_type[@]} -gt 0 ] || fail "$images holds no .bin image"

# ---- the Windows zip -----------------------------------------------------------------------
if [ "$windows" = 1 ]; then
  name=kivupgrade-$version-windows-x64
  log=$out/$name.log
  mkdir -p "$out"
  echo "== building the Windows programs (scripts/build-windows.sh; log in $log)"
  "$root/scripts/build-windows.sh" --out "$stage/programs" >"$log" 2>&1 \
    || { cat "$log" >&2; fail "the Windows build failed"; }
  folder=$stage/zip/$name
  mkdir -p "$folder/wireshark"
  # Line ends a Windows editor shows as lines.
  crlf() { sed 's/\r\{0,1\}$/\r/' "$1" >"$2"; }
  programs=
  for program in kivupgrade:"the window: Check, then Upgrade (F1 for help)" \
                 kivimage:"builds, inspects and verifies image files" \
                 kivupgrade-cli:"the check and the upgrade from a console"; do
    exe=${program%%:*}.exe
    [ -f "$stage/programs/$exe" ] || continue
    cp "$stage/programs/$exe" "$folder/"
    programs+=$(printf '  %-23s %s' "$exe" "${program#*:}")$'\n'
  done
  for exe in kivupgrade.exe kivimage.exe; do
    [ -f "$folder/$exe" ] || fail "the Windows build made no $exe (see $log)"
  done
  cp "${image_files[@]}" "$folder/"
  cp "$root/tools/wireshark/kivupgrade.lua" "$folder/wireshark/"
  crlf "$root/packaging/copyright" "$folder/COPYRIGHT.txt"
  while IFS= read -r line; do
    if [ "$line" = "@PROGRAMS@" ]; then printf '%s' "$programs"; else printf '%s\n' "${line//@VERSION@/$version}"; fi
  done <"$root/packaging/windows/README.txt" >"$stage/README.txt"
  crlf "$stage/README.txt" "$folder/README.txt"
  rm -f "$out/$name.zip"
  (cd "$stage/zip" && zip -q -r -X "$out/$name.zip" "$name") || fail "zip failed"
  echo "== release $version for Windows ($(( $(date +%s) - started )) s)"
  printf '   %-60s %8s KiB\n' "$out/$name.zip" "$(( ($(stat -c %s "$out/$name.zip") + 1023) / 1024 ))"
  exit 0
fi

# ---- link the release's programs and package them ------------------------------------------
join() { local IFS=';'; echo "$*"; }
work=$out/work
mkdir -p "$out"
echo "== linking and packaging release $version in $work"
cmake -S "$root/packaging" -B "$work" -G Ninja \
  "-DKIV_BUILD_DIR=$build" \
  "-DKIV_RELEASE_VERSION=$version" \
  "-DKIV_RELEASE_IMAGE_FILES=$(join "${image_files[@]}")" \
  "-DKIV_RELEASE_EMBED=$(join "${embed_entries[@]}")" \
  "-DKIV_RELEASE_MAINTAINER=$maintainer" \
  "-DKIV_RELEASE_OUT=$work/packages" >"$work.log" 2>&1 \
  || { cat "$work.log" >&2; fail "configuring the release failed"; }
cmake --build "$work" >>"$work.log" 2>&1 || { cat "$work.log" >&2; fail "linking the release failed"; }
rm -rf "$work/packages"
(cd "$work" && cpack >>"$work.log" 2>&1) || { cat "$work.log" >&2; fail "packaging failed"; }

made=()
for package in "$work/packages"/*.deb "$work/packages"/*.tar.gz; do
  [ -f "$package" ] || continue
  mv -f "$package" "$out/"
  made+=("$out/${package##*/}")
done
[ ${#made[@]} -eq 3 ] || fail "packaging made ${#made[@]} files instead of 3 (see $work.log)"

echo "== release $version ($(( $(date +%s) - started )) s)"
for package in "${made[@]}"; do
  printf '   %-60s %8s KiB\n' "$package" "$(( ($(stat -c %s "$package") + 1023) / 1024 ))"
done
echo "Install it with:"
echo "   sudo apt install$(printf ' %s' "${made[@]}" | sed 's/ [^ ]*\.tar\.gz//')"
