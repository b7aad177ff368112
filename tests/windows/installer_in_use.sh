#!/bin/bash
# A running program has the codec loaded. The setup program cannot replace
# the DLL: it leaves the new one beside it for the next restart, says so,
# and exits with 3010. After a restart the new DLL is in place. The
# uninstaller, meeting the DLL in use, deletes it at the next restart.
#
# Usage: installer_in_use.sh (the arguments of installer_lib.sh)
. "$(dirname "$0")/installer_lib.sh"

pending() {
    "$wine" reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
        /v PendingFileRenameOperations 2>/dev/null | tr -d '\r'
}

# hold: starts a program that keeps the codec loaded, waits until it has.
hold() {
    rm -f ready stop
    "$wine" "$hosts/installer/codec_in_use.exe" "$(windows_path "$PWD/ready")" \
        "$(windows_path "$PWD/stop")" &
    holder=$!
    for _ in $(seq 100); do
        [ -e ready ] && return
        sleep 0.2
    done
    fail "codec_in_use never loaded the codec"
}
release() {
    touch stop
    wait "$holder" || fail "codec_in_use returned $?"
}

run_setup || fail "first install returned $?"
age_install
hold
run_setup
status=$?
[ "$status" -eq "$reboot_required" ] || fail "install over the DLL in use returned $status"
cmp -s "$dll64" "$system/system32/talverox.dll.new" || fail "no new DLL waits in System32"
grep -q 'system32\\talverox.dll is in use' "$install_dir/install.log" ||
    fail "install.log does not say the DLL is in use"
pending | grep -qi 'system32\\talverox.dll.new' || fail "no rename pending"
# Not loaded by any program: replaced at once.
cmp -s "$dll32" "$system/syswow64/talverox.dll" || fail "32-bit DLL not replaced"
release

"$wine" wineboot -r
cmp -s "$dll64" "$system/system32/talverox.dll" || fail "the restart did not put the new DLL in place"
[ ! -e "$system/system32/talverox.dll.new" ] || fail "the new DLL is still beside the old one"

hold
run_uninstaller
[ -e "$system/system32/talverox.dll" ] || fail "the DLL in use vanished before the restart"
[ ! -e "$system/syswow64/talverox.dll" ] || fail "SysWOW64 still holds talverox.dll"
pending | grep -qi 'system32\\talverox.dll' || fail "no deletion pending"
release
"$wine" wineboot -r
[ ! -e "$system/system32/talverox.dll" ] || fail "the restart did not delete the DLL"
[ "$failures" -eq 0 ]
