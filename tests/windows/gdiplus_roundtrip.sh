#!/bin/bash
# Runs the VCM round trip against a DLL built on the system's GDI+, in a
# throw-away prefix (WINEPREFIX, from CTest) where that DLL is the
# registered MPNG codec. The prefix goes when the test ends.
#
# Usage: gdiplus_roundtrip.sh WINE WINESERVER talverox.dll vcm_roundtrip.exe
set -eu
wine=$1
wineserver=$2
dll=$3
host=$4
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
cleanup
"$wine" wineboot -i
cp "$dll" "$WINEPREFIX/drive_c/windows/system32/talverox.dll"
"$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32' \
    /v vidc.MPNG /t REG_SZ /d talverox.dll /f /reg:64 >/dev/null
"$wine" "$host"
