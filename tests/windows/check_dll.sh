#!/bin/bash
# Checks a cross-built talverox.dll: exactly the exports DriverProc and
# Configure under their plain names, imports from system DLLs only (no
# MinGW runtime beside it), and a version resource naming the codec.
#
# Usage: check_dll.sh OBJDUMP WINDRES talverox.dll [MORE_ALLOWED_DLL...]
set -u
objdump=$1
windres=$2
dll=$3
shift 3
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

headers=$("$objdump" -p "$dll") || { echo "cannot read $dll" >&2; exit 1; }

# Export names sit between the name-pointer table header and the next blank line.
exports=$(echo "$headers" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^\s*\[\s*[0-9]*\]\s*\(\S*\)$/\1/p' | sort | tr '\n' ' ')
[ "$exports" = "Configure DriverProc " ] || fail "exports are '$exports'"

# The C runtime (msvcrt.dll) ships with every Windows; everything else must
# be a system DLL the codec uses.
allowed=" kernel32.dll msvcrt.dll ole32.dll user32.dll $* "
imports=$(echo "$headers" | sed -n 's/^\s*DLL Name: \(.*\)$/\1/p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$imports" ] || fail "no import table found"
for name in $imports; do
    case "$allowed" in
    *" $name "*) ;;
    *) fail "imports $name" ;;
    esac
done

resource=$("$windres" -i "$dll" -J coff -O rc 2>/dev/null) || fail "no resources readable"
for entry in '"FileDescription", "Quelmora"' '"ProductName", "TALVEROX"' \
             '"OriginalFilename", "talverox.dll"'; do
    echo "$resource" | grep -qF "VALUE $entry" || fail "version resource lacks $entry"
done

echo "exports: $exports"
echo "imports:" $imports
[ "$failures" -eq 0 ]
