#!/bin/bash
# A silent install into a fresh prefix: both DLLs in their system folders,
# vidc.MPNG in both registry views, the Uninstall entry, and then the codec
# found, opened and used through the VCM by a 64-bit program.
#
# Usage: installer_install.sh (the arguments of installer_lib.sh)
. "$(dirname "$0")/installer_lib.sh"

run_setup || fail "the setup program returned $?"

cmp -s "$dll64" "$system/system32/talverox.dll" || fail "64-bit DLL not in System32"
cmp -s "$dll32" "$system/syswow64/talverox.dll" || fail "32-bit DLL not in SysWOW64"
for file in "$system/system32/talverox.dll.new" "$system/syswow64/talverox.dll.new"; do
    [ ! -e "$file" ] || fail "$file left behind"
done
for view in 64 32; do
    [ "$(reg_value "$drivers32" vidc.MPNG $view)" = talverox.dll ] ||
        fail "vidc.MPNG not talverox.dll in the $view-bit view"
done

[ "$(reg_value "$uninstall_key" DisplayName 64)" = "TALVEROX video codec" ] || fail "DisplayName"
[ "$(reg_value "$uninstall_key" DisplayVersion 64)" = "$version" ] || fail "DisplayVersion"
[ "$(reg_value "$uninstall_key" Publisher 64)" = "the talverox authors" ] || fail "Publisher"
# EstimatedSize is in KiB, of the two DLLs.
size=$(( $(reg_value "$uninstall_key" EstimatedSize 64) ))
bytes=$(( $(stat -c %s "$dll64") + $(stat -c %s "$dll32") ))
[ "$size" -ge $((bytes / 1024)) ] && [ "$size" -le $((bytes / 1024 + 2)) ] ||
    fail "EstimatedSize $size KiB for $bytes bytes"
[ -n "$(reg_value "$uninstall_key" DisplayName 32)" ] && fail "Uninstall entry in the 32-bit view"
[ -x "$install_dir/uninstall.exe" ] || fail "no uninstall.exe"

"$wine" "$hosts/vcm_identity.exe" present || fail "vcm_identity"
"$wine" "$hosts/vcm_roundtrip.exe" || fail "vcm_roundtrip"
[ "$failures" -eq 0 ]
