#!/bin/bash
# Another codec owns vidc.MPNG in the 64-bit view: the setup program leaves
# that value alone and says why in install.log, while the 32-bit view's
# value, ours under another spelling, is taken over. The uninstaller then
# removes only ours.
#
# Usage: installer_foreign.sh (the arguments of installer_lib.sh)
. "$(dirname "$0")/installer_lib.sh"

"$wine" reg add "$drivers32" /v vidc.MPNG /d othercodec.dll /f /reg:64 >/dev/null
"$wine" reg add "$drivers32" /v vidc.MPNG /d TALVEROX.DLL /f /reg:32 >/dev/null

run_setup || fail "the setup program returned $?"
[ "$(reg_value "$drivers32" vidc.MPNG 64)" = othercodec.dll ] ||
    fail "the other codec's value was overwritten"
[ "$(reg_value "$drivers32" vidc.MPNG 32)" = talverox.dll ] ||
    fail "the 32-bit view's value was not written"
grep -q 'vidc.MPNG in the 64-bit registry view is othercodec.dll' "$install_dir/install.log" ||
    fail "install.log does not say why the 64-bit value was left"
grep -q '32-bit registry view' "$install_dir/install.log" &&
    fail "install.log names the 32-bit view, which was ours"
cmp -s "$dll64" "$system/system32/talverox.dll" || fail "64-bit DLL not in System32"

run_uninstaller
[ "$(reg_value "$drivers32" vidc.MPNG 64)" = othercodec.dll ] ||
    fail "the uninstaller removed the other codec's value"
[ -z "$(reg_value "$drivers32" vidc.MPNG 32)" ] || fail "the 32-bit view's value stays"
[ ! -e "$system/system32/talverox.dll" ] || fail "System32 still holds talverox.dll"
[ ! -e "$install_dir" ] || fail "the install folder stays"
[ "$failures" -eq 0 ]
