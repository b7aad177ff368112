#!/bin/bash
# The .inf's sections for 32-bit Windows, run by name in the 64-bit test
# prefix (this machine cannot run a 32-bit setup): the 32-bit DLL must land
# in System32 under the plain name, vidc.MPNG must be registered in the
# native view only, and the uninstall section must remove both again.
#
# Usage: inf_x86_sections.sh WINE INF DLL64 DLL32 PACKAGE_DIR
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
native='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32'
wow='HKLM\Software\WOW6432Node\Microsoft\Windows NT\CurrentVersion\Drivers32'
system="$WINEPREFIX/drive_c/windows"

rm -rf "$package"
mkdir -p "$package"
cp "$inf" "$package/talverox.inf"
cp "$dll64" "$package/talverox64.dll"
cp "$dll32" "$package/talverox32.dll"
windows_path="Z:${package//\//\\}\\talverox.inf"

"$wine" rundll32 setupapi.dll,InstallHinfSection DefaultInstall.NTx86 132 "$windows_path" ||
    fail "install returned $?"
cmp -s "$dll32" "$system/system32/talverox.dll" || fail "32-bit DLL not in System32"
[ ! -e "$system/syswow64/talverox.dll" ] || fail "the 32-bit sections wrote to SysWOW64"
"$wine" reg query "$native" /v vidc.MPNG 2>/dev/null | grep -q 'talverox\.dll' ||
    fail "vidc.MPNG not registered"
if "$wine" reg query "$wow" /v vidc.MPNG >/dev/null 2>&1; then
    fail "the 32-bit sections wrote the WOW6432Node view"
fi

"$wine" rundll32 setupapi.dll,InstallHinfSection DefaultUninstall.NTx86 132 "$windows_path" ||
    fail "uninstall returned $?"
[ ! -e "$system/system32/talverox.dll" ] || fail "System32 still holds talverox.dll"
if "$wine" reg query "$native" /v vidc.MPNG >/dev/null 2>&1; then
    fail "vidc.MPNG still registered"
fi
[ "$failures" -eq 0 ]
