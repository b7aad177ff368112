#!/bin/bash
# Checks that a cross-built program imports from the named DLLs only: the
# libraries it was linked with statically must not turn up as DLLs.
#
# Usage: imports_only.sh OBJDUMP PROGRAM DLL...
set -u
objdump=$1
program=$2
shift 2
allowed=" $(echo "$*" | tr '[:upper:]' '[:lower:]') "
headers=$("$objdump" -p "$program") || { echo "cannot read $program" >&2; exit 1; }
imports=$(echo "$headers" | sed -n 's/^\s*DLL Name: \(.*\)$/\1/p' | tr '[:upper:]' '[:lower:]' | sort -u)
[ -n "$imports" ] || { echo "FAIL: no import table found" >&2; exit 1; }
status=0
for name in $imports; do
    case "$allowed" in
    *" $name "*) ;;
    *) echo "FAIL: imports $name" >&2; status=1 ;;
    esac
done
echo "imports:" $imports
exit $status
