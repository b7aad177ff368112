#!/bin/bash
# Installing over an older install replaces both DLLs in place, updates the
# one Uninstall entry, and one uninstall still takes everything back.
#
# Usage: installer_upgrade.sh (the arguments of installer_lib.sh)
. "$(dirname "$0")/installer_lib.sh"

snapshot before
run_setup || fail "first install returned $?"
age_install
run_setup || fail "install over the older one returned $?"

cmp -s "$dll64" "$system/system32/talverox.dll" || fail "64-bit DLL not replaced"
cmp -s "$dll32" "$system/syswow64/talverox.dll" || fail "32-bit DLL not replaced"
[ "$(reg_value "$uninstall_key" DisplayVersion 64)" = "$version" ] || fail "DisplayVersion not updated"
entries=$("$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /reg:64 |
          grep -ci 'talverox')
[ "$entries" -eq 1 ] || fail "$entries Uninstall entries"
for view in 64 32; do
    [ "$(reg_value "$drivers32" vidc.MPNG $view)" = talverox.dll ] ||
        fail "vidc.MPNG lost in the $view-bit view"
done

run_uninstaller
snapshot after
diff before after || fail "the uninstall left the prefix different from before the first install"
[ "$failures" -eq 0 ]
