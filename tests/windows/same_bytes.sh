#!/bin/bash
# Takes the PNG frames out of an AVI the DLL wrote (ffmpeg copies them as
# they are) and has the native library compress the same source rows: the
# bytes must be identical.
#
# Usage: same_bytes.sh FFMPEG NATIVE_FRAME_BYTES CLIP.avi BITS WIDTH HEIGHT FRAMES SOURCE.raw
set -eu
dir="${3%.avi}.frames"
rm -rf "$dir"
mkdir -p "$dir"
"$1" -v error -y -i "$3" -c:v copy -f image2 "$dir/%03d.png"
"$2" "$4" "$5" "$6" "$7" "$8" "$dir"
