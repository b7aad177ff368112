#!/bin/bash
# Ends the test prefix's Wine server (and any Wine program left in it) and
# waits until it is gone, so no Wine process outlives the test run.
#
# Usage: wine_stop.sh WINESERVER
set -u
"$1" -k 2>/dev/null  # fails only when the server has already gone
"$1" -w
