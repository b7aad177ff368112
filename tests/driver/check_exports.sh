#!/bin/sh
# The module exports DriverProc and Configure and nothing else.
set -eu
exports=$(nm -D --defined-only "$1" | awk '{print $3}' | sort | tr '\n' ' ')
if [ "$exports" != "Configure DriverProc " ]; then
    echo "unexpected exports of $1: $exports" >&2
    exit 1
fi
echo "exports: $exports"
