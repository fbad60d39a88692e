#!/bin/sh
# Runs a Linux test program of the command line inside a Wine session (cmake/wine-run.sh
# --session), so that the Windows kivupgrade-cli.exe it starts (KIV_CLI_UNDER_TEST) runs in
# the session's prefix:
#   WineCliSession.sh TEST_PROGRAM [ARGUMENT...]
# Wine sets a program's TEMP and TMP from the prefix's registry, whatever the environment
# says, so the session makes them name %KIV_WINE_TEMP% there: the test hands the program its
# temporary directory (GetTempPathW: the download log) through that variable, as TMP does on
# Windows.
set -u
reg=$WINEPREFIX/kiv-temp.reg
# REGEDIT4: an expandable string is written as its bytes in hex, ending with a zero.
value=$(printf '%%KIV_WINE_TEMP%%' | od -An -tx1 -v | tr -s ' \n' ',,' | sed 's/^,//; s/,$//')
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Environment]\n"TEMP"=hex(2):%s,00\n"TMP"=hex(2):%s,00\n' \
  "$value" "$value" >"$reg"
wine reg import "$(printf 'Z:%s' "$reg" | tr / '\\')" >/dev/null 2>&1 || {
  echo "WineCliSession.sh: wine reg import failed in $WINEPREFIX" >&2
  exit 125
}
exec "$@"
