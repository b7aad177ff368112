#!/bin/bash
# Unpacks the zip file and compares it with its sources: both DLLs under
# the names talverox.inf expects, the .inf, the README and the licence, and
# nothing else.
#
# Usage: installer_zip.sh MAKENSIS ZIP DLL64 DLL32 SOURCE_DIR
set -u
makensis=$1
zip=$2
source=$5
if [ ! -x "$makensis" ]; then
    echo "makensis not found: no packages built"
    exit 77
fi
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

rm -rf zip-contents
mkdir zip-contents
(cd zip-contents && cmake -E tar xf "$zip") || { echo "FAIL: cannot unpack $zip" >&2; exit 1; }
folder=zip-contents/$(basename "$zip" .zip)
expected="LICENSE.txt README.txt talverox.inf talverox32.dll talverox64.dll"
[ "$(cd zip-contents && find . -type f | LC_ALL=C sort | sed 's|.*/||' | tr '\n' ' ')" = "$expected " ] ||
    fail "the zip holds: $(cd zip-contents && find . -type f | sort | tr '\n' ' ')"
cmp -s "$3" "$folder/talverox64.dll" || fail "talverox64.dll is not the 64-bit DLL"
cmp -s "$4" "$folder/talverox32.dll" || fail "talverox32.dll is not the 32-bit DLL"
cmp -s "$source/windows/talverox.inf" "$folder/talverox.inf" || fail "talverox.inf differs"
cmp -s "$source/LICENSE" "$folder/LICENSE.txt" || fail "LICENSE.txt differs"
# Each file the .inf copies must be in the zip file.
for file in $(sed -n 's/^talverox\.dll, *\(talverox[0-9]*\.dll\)\r\?$/\1/p' "$folder/talverox.inf" | sort -u); do
    [ -e "$folder/$file" ] || fail "talverox.inf needs $file"
done
rm -rf zip-contents
[ "$failures" -eq 0 ]
