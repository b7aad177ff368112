#!/bin/bash
# Installs the codec into the test prefix the way a user does: the .inf and
# both DLLs in one folder, then setupapi's InstallHinfSection through
# rundll32. Checks that the files and registry values landed.
#
# Usage: inf_install.sh WINE INF DLL64 DLL32 PACKAGE_DIR
set -u
wine=$1
inf=$2
dll64=$3
dll32=$4
package=$5
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

rm -rf "$package"
mkdir -p "$package"
cp "$inf" "$package/talverox.inf"
cp "$dll64" "$package/talverox64.dll"
cp "$dll32" "$package/talverox32.dll"

windows_path="Z:${package//\//\\}\\talverox.inf"
"$wine" rundll32 setupapi.dll,InstallHinfSection DefaultInstall 132 "$windows_path" ||
    fail "rundll32 returned $?"

system="$WINEPREFIX/drive_c/windows"
cmp -s "$dll64" "$system/system32/talverox.dll" || fail "64-bit DLL not in System32"
cmp -s "$dll32" "$system/syswow64/talverox.dll" || fail "32-bit DLL not in SysWOW64"
for key in 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32' \
           'HKLM\Software\WOW6432Node\Microsoft\Windows NT\CurrentVersion\Drivers32'; do
    "$wine" reg query "$key" /v vidc.MPNG 2>/dev/null | grep -q 'talverox\.dll' ||
        fail "vidc.MPNG not registered under $key"
done
[ "$failures" -eq 0 ]
