#!/bin/bash
# Checks what ffprobe sees in an AVI the codec wrote: one PNG video stream
# tagged MPNG, of the given size and frame count.
#
# Usage: ffprobe_clip.sh FFPROBE CLIP.avi WIDTH HEIGHT FRAMES
set -u
ffprobe=$1
clip=$2
failures=0
fields=$("$ffprobe" -v error -count_frames -select_streams v:0 -show_entries \
         stream=codec_name,codec_tag_string,width,height,nb_read_frames -of default=nw=1 "$clip") ||
    { echo "FAIL: ffprobe cannot read $clip" >&2; exit 1; }
echo "$fields"
for expected in codec_name=png codec_tag_string=MPNG width=$3 height=$4 nb_read_frames=$5; do
    echo "$fields" | grep -qx "$expected" || { echo "FAIL: expected $expected" >&2; failures=1; }
done
[ "$failures" -eq 0 ]
