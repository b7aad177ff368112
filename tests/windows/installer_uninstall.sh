#!/bin/bash
# Install, then the uninstaller that the Uninstall entry names, silently:
# the prefix's registry and files must be exactly as before the install,
# and the VCM must no longer find the codec.
#
# Usage: installer_uninstall.sh (the arguments of installer_lib.sh)
. "$(dirname "$0")/installer_lib.sh"

snapshot before
run_setup || fail "the setup program returned $?"
run_uninstaller
snapshot after
diff before after || fail "the uninstall left the prefix different from before the install"
"$wine" "$hosts/vcm_identity.exe" absent || fail "the VCM still finds the codec"
[ "$failures" -eq 0 ]
