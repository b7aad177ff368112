#!/bin/bash
# Compares two raw files frame by frame. The second may carry EXTRA bytes
# after each frame (ffmpeg appends the 1024-byte palette to pal8 frames).
#
# Usage: same_frames.sh EXPECTED ACTUAL FRAME_BYTES FRAMES [EXTRA]
set -u
expected=$1
actual=$2
frame=$3
frames=$4
extra=${5:-0}

[ "$(stat -c %s "$expected")" -eq $((frame * frames)) ] ||
    { echo "FAIL: $expected is not $frames frames of $frame bytes" >&2; exit 1; }
[ "$(stat -c %s "$actual")" -eq $(((frame + extra) * frames)) ] ||
    { echo "FAIL: $actual holds $(stat -c %s "$actual") bytes" >&2; exit 1; }
for ((i = 0; i < frames; ++i)); do
    if ! cmp -i $((i * frame)):$((i * (frame + extra))) -n "$frame" "$expected" "$actual"; then
        echo "FAIL: frame $i differs" >&2
        exit 1
    fi
done
echo "$frames frames of $frame bytes are equal"
