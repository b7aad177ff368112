#!/bin/bash
# Creates a fresh Wine prefix for one test run (WINEPREFIX, from CTest) and
# an empty folder for the files the tests write. wine_stop.sh ends the
# prefix's server after the last test.
#
# Usage: wine_prefix.sh WINE WINESERVER OUTPUT_DIR
set -eu
wine=$1
wineserver=$2
output=$3
# A server left over from an earlier run of this prefix goes first.
"$wineserver" -k 2>/dev/null || true
rm -rf "$WINEPREFIX" "$output"
mkdir -p "$output"
"$wine" wineboot -i
test -d "$WINEPREFIX/drive_c/windows/system32"
