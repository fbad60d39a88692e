#!/usr/bin/env bash
# End to end, as a user makes and uses a release:
# - scripts/release.sh refuses a corrupt image, two images of one type and (with --embed) a
#   dashboard image, naming the file, and makes no package;
# - it packages the sample images as files, and with --embed as resources;
# - the packages pass lintian, the desktop entry desktop-file-validate and the AppStream
#   metadata appstreamcli validate;
# - unpacked into a private root (dpkg-deb -x; nothing is installed on the machine), the
#   packaged kivupgrade-cli checks and upgrades the packaged kivrouter-sim with the packaged
#   images (or, for --embed, checks with the images it carries), prefers images beside it,
#   names the directories it searched when it finds none, and the packaged kivupgrade shows
#   the release's version in its title (under Xvfb);
# - kivupgrade-tools puts the Wireshark dissector where tshark looks for Lua plugins of every
#   user, and tshark loads it from there;
# - the tarball's kivupgrade-cli finds the tarball's images;
# - release.sh --windows refuses the corrupt image too, and its zip holds the Windows
#   programs built so far, the images, README.txt, the licence and the dissector, nothing else.
#   tests/release/release_test.sh BUILD_DIR SOURCE_DIR
# Exit 0 pass, 1 fail, 77 skipped (a tool is missing; KIV_TEST_STRICT=1 makes that a failure).
set -uo pipefail
build=$1
source=$2
. "$source/tests/release/script_support.sh"

require_tools cmake ninja dpkg-deb dpkg-shlibdeps lintian desktop-file-validate appstreamcli Xvfb xdotool timeout tshark \
  zip unzip file x86_64-w64-mingw32-g++-posix
[ -f "$build/KivBuild.cmake" ] || skip "$build cannot make a release (no window, or a sanitizer build)"

started=$(date +%s)
work=$(mktemp -d "${TMPDIR:-/tmp}/kiv-release-test.XXXXXX")
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

# The test run's time scale, but not below 0.2 (as TelnetTimeScale does): Telnet replies
# must fit their scaled wait of 500 ms on a loaded machine.
scale=$(awk -v s="${KIV_TIME_SCALE:-0.2}" 'BEGIN { print (s > 0.2 ? s : 0.2) }')
export KIV_TIME_SCALE=$scale
unset KIV_DISCOVERY_TARGETS KIV_ROUTER_PORT KIV_TELNET_PORT KIV_IMAGE_DIR
arch=$(dpkg --print-architecture)

step() { echo "== $* ($(( $(date +%s) - started )) s)"; }
release() { "$source/scripts/release.sh" --no-deps --build "$build" "$@"; }

# ---- sample images ---------------------------------------------------------------------------
"$build/tools/kivimage/kivimage" samples "$work/samples" --firmware-size 262144 >/dev/null \
  || fail "kivimage samples failed"
a=$work/samples/a

# ---- refused image sets ------------------------------------------------------------------------
# expect_refused DIR TEXT... -- ARGS: release.sh exits 1, prints every TEXT, makes no package.
expect_refused() {
  local dir=$1
  shift
  local texts=()
  while [ "$1" != "--" ]; do texts+=("$1"); shift; done
  shift
  local out rc text
  out=$(release --images "$dir" --out "$work/refused" "$@" 2>&1)
  rc=$?
  [ "$rc" = 1 ] || fail "release.sh --images $dir $*: exit $rc instead of 1: $out"
  for text in "${texts[@]}"; do
    grep -qF -- "$text" <<<"$out" || fail "release.sh --images $dir $*: no \"$text\" in: $out"
  done
  ! ls "$work/refused"/*.deb "$work/refused"/*.zip >/dev/null 2>&1 || fail "release.sh --images $dir $*: made a package"
}

step "refused image sets"
mkdir "$work/corrupt" "$work/duplicate"
cp "$a"/*.bin "$work/corrupt/"
# One byte of the firmware's first part data (after the file header and the part's header
# and checksum table) no longer matches its block checksum.
printf '\xA5' | dd of="$work/corrupt/firmware.bin" bs=1 seek=400 conv=notrunc status=none
expect_refused "$work/corrupt" "$work/corrupt/firmware.bin: part 0 block 0: checksum mismatch" --
expect_refused "$work/corrupt" "$work/corrupt/firmware.bin: part 0 block 0: checksum mismatch" -- --windows
cp "$a/app.bin" "$work/duplicate/app.bin"
cp "$a/app.bin" "$work/duplicate/app-copy.bin"
expect_refused "$work/duplicate" "$work/duplicate/app.bin" "$work/duplicate/app-copy.bin" "both app images" --
expect_refused "$a" "$a/dashboard_ZQPX.bin: an image of type dashboard cannot be embedded" -- --embed
pass "corrupt (also for Windows), duplicate and (embedded) dashboard images are refused by name"

# ---- the packaged programs ---------------------------------------------------------------------
# start_sim ROOT: the packaged simulator on loopback, strict (exit 3 when the tool broke the
# protocol); sets router_port and telnet_port.
start_sim() {
  local out=$work/sim.$RANDOM
  sim_out=$out
  "$1/kivrouter-sim" --address 127.0.0.1 --router-port 0 --telnet-port 0 --strict >"$out" 2>&1 &
  sim_pid=$!
  pids+=("$sim_pid")
  local deadline=$(( $(date +%s) + 20 ))
  until grep -q ready "$out" 2>/dev/null; do
    kill -0 "$sim_pid" 2>/dev/null || fail "kivrouter-sim ended: $(cat "$out")"
    [ "$(date +%s)" -lt "$deadline" ] || fail "kivrouter-sim never said ready"
    sleep 0.05
  done
  router_port=$(sed -n 's/.*router-port=\([0-9]*\).*/\1/p' "$out")
  telnet_port=$(sed -n 's/.*telnet-port=\([0-9]*\).*/\1/p' "$out")
}

# stop_sim: stops it; anything but exit status 0 fails the test.
stop_sim() {
  local rc=0
  kill -TERM "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null || rc=$?
  [ "$rc" = 0 ] || fail "kivrouter-sim exited with status $rc (3: the tool broke the protocol): $(cat "$sim_out")"
}

# cli BIN_DIR COMMAND [ARGS...]: runs the packaged command line against the simulator with a
# private temporary directory; sets cli_out (standard output), cli_err and cli_rc.
cli() {
  local bin=$1
  shift
  mkdir -p "$work/tmp"
  cli_out=$(TMPDIR=$work/tmp timeout 300 "$bin/kivupgrade-cli" "$@" --target 127.0.0.1 \
    --router-port "$router_port" --telnet-port "$telnet_port" 2>"$work/cli.err")
  cli_rc=$?
  cli_err=$(cat "$work/cli.err")
}

expect_cli() {  # expect_cli RC TEXT...: the last cli run's exit status and output
  local rc=$1 text
  shift
  [ "$cli_rc" = "$rc" ] || fail "kivupgrade-cli exit $cli_rc instead of $rc: $cli_out $cli_err"
  for text in "$@"; do
    grep -qF -- "$text" <<<"$cli_out$cli_err" || fail "kivupgrade-cli: no \"$text\" in: $cli_out $cli_err"
  done
}

expect_successes() {  # expect_successes N: N rows of the last cli run were written
  local n
  n=$(grep -c "Download successfully" <<<"$cli_out")
  [ "$n" = "$1" ] || fail "kivupgrade-cli upgrade: $n rows written instead of $1: $cli_out"
}

lint() {
  local out
  out=$(lintian --fail-on error,warning "$@" 2>&1) || fail "lintian: $out"
}

unpack() {  # unpack ROOT DEB...
  local root=$1 deb
  shift
  mkdir -p "$root"
  for deb in "$@"; do
    dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x $deb failed"
  done
}

# The packaged window under Xvfb: its title must name the release's version.
expect_title() {  # expect_title ROOT VERSION
  local root=$1 version=$2
  mkdir -p "$work/x" "$work/x/run" "$work/x/config" "$work/x/tmp"
  chmod 700 "$work/x/run"
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/x/display" 2>"$work/x/xvfb.log" &
  pids+=($!)
  local deadline=$(( $(date +%s) + 20 ))
  until [ -s "$work/x/display" ]; do
    [ "$(date +%s)" -lt "$deadline" ] || fail "Xvfb did not start: $(cat "$work/x/xvfb.log")"
    sleep 0.05
  done
  export DISPLAY=:$(head -1 "$work/x/display")
  # At the real time scale, as a user starts it: a scale other than 1 would show in the title.
  KIV_TIME_SCALE=1 XDG_RUNTIME_DIR=$work/x/run XDG_CONFIG_HOME=$work/x/config TMPDIR=$work/x/tmp QT_QPA_PLATFORM=xcb \
    "$root/usr/bin/kivupgrade" >"$work/x/app.log" 2>&1 &
  local app=$!
  pids+=("$app")
  local window title expected="Q350m Upgrade - $version - Press F1 for Help"
  window=$(timeout 30 xdotool search --sync --name "Press F1 for Help" 2>/dev/null | head -1)
  [ -n "$window" ] || fail "the packaged kivupgrade showed no window: $(cat "$work/x/app.log")"
  title=$(xdotool getwindowname "$window")
  [ "$title" = "$expected" ] || fail "the packaged kivupgrade's title is \"$title\", not \"$expected\""
  kill -TERM "$app"
  wait "$app" 2>/dev/null
  unset DISPLAY
}

# ---- a release with the images as files -------------------------------------------------------
step "release 9.8.7, images as files"
out=$(release --images "$a" --version 9.8.7 --out "$work/files" 2>&1) || fail "release.sh failed: $out"
deb_app=$work/files/kivupgrade_9.8.7_${arch}.deb
deb_tools=$work/files/kivupgrade-tools_9.8.7_${arch}.deb
tarball=$work/files/kivupgrade-9.8.7-linux-${arch}.tar.gz
for package in "$deb_app" "$deb_tools" "$tarball"; do
  [ -f "$package" ] || fail "release.sh made no $package: $out"
done

step "desktop-file-validate, appstreamcli"
lint_debs=("$deb_app" "$deb_tools")
root=$work/root
unpack "$root" "$deb_app" "$deb_tools"
desktop-file-validate "$root/usr/share/applications/kivupgrade.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/com.varoni.kivupgrade.metainfo.xml" >/dev/null \
  || fail "appstreamcli validate: $(appstreamcli validate --no-net "$root/usr/share/metainfo/com.varoni.kivupgrade.metainfo.xml")"
pass "the desktop entry and the AppStream metadata are valid"

step "the unpacked package against its own simulator"
images=$root/usr/share/kivupgrade/images/
for name in app boot customization dashboard_ZQPX firmware; do
  cmp -s "$a/$name.bin" "$images/$name.bin" || fail "the package does not hold $name.bin as given"
done
start_sim "$root/usr/bin"
cli "$root/usr/bin" check
expect_cli 0 "Result: success" "Images: $images"
cli "$root/usr/bin" upgrade --json
expect_cli 0 '"result": "success"' "\"directory\": \"$images\""
expect_successes 5
stop_sim
cli "$root/usr/bin" --version
expect_cli 0 "kivupgrade-cli 9.8.7"
pass "the packaged kivupgrade-cli checks and upgrades with the packaged images"

step "the Wireshark dissector of the unpacked package"
mkdir -p "$work/home"
lua_dir=$(HOME=$work/home tshark -G folders 2>/dev/null | sed -n 's/^Global Lua Plugins:[[:space:]]*//p')
[ -n "$lua_dir" ] || fail "tshark -G folders names no global Lua plugin folder"
cmp -s "$source/tools/wireshark/kivupgrade.lua" "$root$lua_dir/kivupgrade.lua" \
  || fail "kivupgrade-tools does not hold tools/wireshark/kivupgrade.lua in $lua_dir: $(dpkg-deb -c "$deb_tools")"
HOME=$work/home tshark -G protocols -X "lua_script:$root$lua_dir/kivupgrade.lua" 2>/dev/null | grep -qP "\tkivupgrade$" \
  || fail "tshark does not load the packaged dissector"
pass "kivupgrade-tools installs the dissector into $lua_dir, and tshark loads it"

step "the image search of the unpacked package"
start_sim "$root/usr/bin"
# The installation's image directory alone: files beside the program are never looked at,
# neither one that is no image nor a usable one.
echo "not an image" >"$root/usr/bin/notes.bin"
cp "$work/samples/b/app.bin" "$root/usr/bin/"
cli "$root/usr/bin" check
expect_cli 0 "Images: $images" "2.1.7.1"
grep -qF -- "$root/usr/bin/" <<<"$cli_out$cli_err" && fail "kivupgrade-cli looked beside itself: $cli_out $cli_err"
rm "$root/usr/bin/app.bin" "$root/usr/bin/notes.bin"
mv "$images" "$work/packaged-images"
mkdir "$images"
cli "$root/usr/bin" check
expect_cli 1 "Images: no usable *.bin file in $images" \
  "No valid .bin file is found in the current directory"
grep -qF "Searched for *.bin images in: $images" "$work/tmp/KivUpgradeLog.txt" \
  || fail "the download log does not say which directory was searched"
rmdir "$images"
mv "$work/packaged-images" "$images"
stop_sim
pass "an installed program takes the installation's images and never looks beside itself"

step "the packaged window"
expect_title "$root" 9.8.7
pass "the packaged kivupgrade shows 9.8.7 in its title"

step "the tarball"
mkdir "$work/tar"
tar -xzf "$tarball" -C "$work/tar" || fail "cannot unpack $tarball"
top=$work/tar/kivupgrade-9.8.7-linux-${arch}
start_sim "$top/bin"
cli "$top/bin" check
expect_cli 0 "Result: success" "Images: $top/share/kivupgrade/images/"
stop_sim
ls "$top"/lib/*/wireshark/plugins/kivupgrade.lua >/dev/null 2>&1 || fail "the tarball holds no Wireshark dissector"
pass "the tarball's kivupgrade-cli finds the tarball's images; the tarball holds the dissector"

# ---- the Windows zip ---------------------------------------------------------------------------
step "release for Windows"
version=$(sed -n 's/^set(KIV_BUILD_VERSION "\(.*\)")$/\1/p' "$build/KivBuild.cmake")
out=$(release --windows --images "$a" --out "$work/windows" 2>&1) || fail "release.sh --windows failed: $out"
zip=$work/windows/kivupgrade-$version-windows-x64.zip
unzip -q "$zip" -d "$work/unzipped" || fail "cannot unpack $zip"
top=$work/unzipped/kivupgrade-$version-windows-x64
# Every file the zip must hold (and no other): NAME|CHECK|WHAT, where CHECK is "same" (the
# same bytes as the file WHAT), "text" (holds the line WHAT, with Windows line ends) or
# "file" (file(1) says WHAT).
exe="PE32+ executable (console) x86-64"
rows=("kivupgrade.exe|file|PE32+ executable (GUI) x86-64" "kivimage.exe|file|$exe" "README.txt|text|  kivimage verify app.bin       every header and checksum; exit code 0 when valid"
  "COPYRIGHT.txt|text| All rights reserved. No permission to copy, modify or distribute this software is"
  "wireshark/kivupgrade.lua|same|$source/tools/wireshark/kivupgrade.lua")
for name in app boot customization dashboard_ZQPX firmware; do rows+=("$name.bin|same|$a/$name.bin"); done
# The command line joins once the Windows build makes it.
[ ! -f "$source/build-windows/cli/kivupgrade-cli.exe" ] || rows+=("kivupgrade-cli.exe|file|$exe")
for row in "${rows[@]}"; do
  IFS='|' read -r name check what <<<"$row"
  file=$top/$name
  [ -f "$file" ] || fail "$zip holds no $name: $(unzip -l "$zip")"
  case "$check" in
    same) cmp -s "$what" "$file" || fail "$name in $zip is not $what" ;;
    text) grep -qxF -- "$what"$'\r' "$file" || fail "$name in $zip has no line \"$what\" ending in CR LF" ;;
    file) file -b "$file" | grep -qF -- "$what" || fail "$name in $zip is $(file -b "$file"), not $what" ;;
  esac
done
held=$(cd "$top" && find . -type f | sed 's|^\./||' | sort)
listed=$(printf '%s\n' "${rows[@]%%|*}" | sort)
[ "$held" = "$listed" ] || fail "$zip holds other files than expected: $(diff <(echo "$listed") <(echo "$held"))"
pass "the Windows zip holds the window, the programs, the images, README.txt, the licence and the dissector"

# ---- a release with the images compiled in ---------------------------------------------------
step "release 9.8.8, images embedded"
mkdir "$work/embed"
cp "$a/boot.bin" "$a/app.bin" "$a/customization.bin" "$a/firmware.bin" "$work/embed/"
out=$(release --images "$work/embed" --embed --version 9.8.8 --out "$work/embedded" 2>&1) \
  || fail "release.sh --embed failed: $out"
deb_app=$work/embedded/kivupgrade_9.8.8_${arch}.deb
lint_debs+=("$deb_app")
root=$work/root-embedded
unpack "$root" "$deb_app" "$work/embedded/kivupgrade-tools_9.8.8_${arch}.deb"
[ ! -e "$root/usr/share/kivupgrade/images" ] || fail "an embedded release also packaged image files"
start_sim "$root/usr/bin"
cli "$root/usr/bin" check
expect_cli 0 "Result: success" "Images: carried by the program" "1.0.6.2" "2.1.7.1" "2.1.7.3" "11.608.13.02.00"
stop_sim
pass "the embedded release checks with the images it carries"

# Both packages of the first release and the window's package of the second, in one run.
step "lintian"
lint "${lint_debs[@]}"
pass "lintian finds no error and no warning"

step "done"
