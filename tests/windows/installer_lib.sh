# Shared by the setup program's tests (sourced, not run). Each test gets
# the same arguments and a fresh Wine prefix of its own (WINEPREFIX, from
# CTest), so the tests run in parallel. The prefix is removed when the test
# passes and kept for a look when it fails.
#
# Arguments: MAKENSIS WINE WINESERVER SETUP.exe DLL64 DLL32 HOSTS_DIR VERSION
set -u
makensis=$1
wine=$2
wineserver=$3
setup=$4
dll64=$5
dll32=$6
hosts=$7
version=$8

if [ ! -x "$makensis" ]; then
    echo "makensis not found: no setup program to test"
    exit 77
fi

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

system="$WINEPREFIX/drive_c/windows"
drivers32='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\talverox'
install_dir="$WINEPREFIX/drive_c/Program Files/talverox"
# Windows' "restart to finish" (3010) as a Unix exit status.
reboot_required=$((3010 & 255))

finish() {
    "$wineserver" -k 2>/dev/null
    "$wineserver" -w
    if [ "$failures" -eq 0 ]; then
        rm -rf "$WINEPREFIX"
    fi
}
trap finish EXIT

"$wineserver" -k 2>/dev/null
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
"$wine" wineboot -i 2>/dev/null || { echo "FAIL: wineboot" >&2; exit 1; }

windows_path() {
    local path=${1//\//\\}
    echo "Z:$path"
}

# reg_value KEY NAME VIEW: the value's data, or nothing when it is missing.
reg_value() {
    "$wine" reg query "$1" /v "$2" "/reg:$3" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

# Runs the setup program silently; its exit status is the caller's.
run_setup() {
    "$wine" "$setup" /S
}

# Runs the uninstaller the Uninstall entry names, silently. It goes on in
# a copy of itself after the first process exits; removing its own folder
# is its last step, so that is what the wait is for. On a machine busy with
# other tests that copy can take well over half a minute.
run_uninstaller() {
    local command
    command=$(reg_value "$uninstall_key" UninstallString 64)
    [ -n "$command" ] || { fail "no UninstallString"; return; }
    command=${command#\"}
    "$wine" "${command%\"}" /S || fail "the uninstaller returned $?"
    for _ in $(seq 600); do
        [ -e "$install_dir" ] || return
        sleep 0.2
    done
    fail "the uninstaller did not remove its folder"
}

# snapshot FILE: the prefix's HKLM\Software (both views) and every path in
# drive_c, for comparing before and after. Left out: the empty scratch
# folder in which NSIS runs an uninstaller's copy, which stays in TEMP.
snapshot() {
    "$wineserver" -w
    "$wine" reg export 'HKLM\Software' "$1.reg" /y >/dev/null 2>&1 ||
        fail "reg export failed"
    { iconv -f UTF-16 -t UTF-8 "$1.reg" | tr -d '\r'
      (cd "$WINEPREFIX/drive_c" && find . | grep -v '^\./users/[^/]*/Temp/~nsu[^/]*\.tmp$' |
       LC_ALL=C sort); } >"$1"
    rm -f "$1.reg"
}

# Makes the installed DLLs look like an older build's: a changed byte
# count and an older version in the Uninstall entry.
age_install() {
    echo old >>"$system/system32/talverox.dll"
    echo old >>"$system/syswow64/talverox.dll"
    "$wine" reg add "$uninstall_key" /v DisplayVersion /d 0.9.0 /f /reg:64 >/dev/null
}
