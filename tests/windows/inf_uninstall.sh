#!/bin/bash
# Removes the codec with the .inf's uninstall section and checks that the
# files, the registry values and the VCM's view of the codec are gone.
#
# Usage: inf_uninstall.sh WINE PACKAGE_DIR vcm_identity.exe
set -u
wine=$1
package=$2
identity=$3
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

windows_path="Z:${package//\//\\}\\talverox.inf"
"$wine" rundll32 setupapi.dll,InstallHinfSection DefaultUninstall 132 "$windows_path" ||
    fail "rundll32 returned $?"

system="$WINEPREFIX/drive_c/windows"
[ ! -e "$system/system32/talverox.dll" ] || fail "System32 still holds talverox.dll"
[ ! -e "$system/syswow64/talverox.dll" ] || fail "SysWOW64 still holds talverox.dll"
for key in 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32' \
           'HKLM\Software\WOW6432Node\Microsoft\Windows NT\CurrentVersion\Drivers32'; do
    if "$wine" reg query "$key" /v vidc.MPNG >/dev/null 2>&1; then
        fail "vidc.MPNG still registered under $key"
    fi
done
"$wine" "$identity" absent || fail "the VCM still finds the codec"
[ "$failures" -eq 0 ]
