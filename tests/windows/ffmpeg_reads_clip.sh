#!/bin/bash
# Decodes an AVI the codec wrote with ffmpeg and compares the frames with
# the source rows. The codec stores DIB rows in memory order, bottom row
# first, and ffmpeg does not flip PNG frames, so ffmpeg's picture is the
# source picture upside down: its rows equal the source's memory rows.
#
# Usage: ffmpeg_reads_clip.sh FFMPEG CLIP.avi PIX_FMT SOURCE.raw FRAME_BYTES FRAMES [EXTRA]
set -u
here=$(dirname "$0")
decoded="${2%.avi}.ffmpeg.raw"
"$1" -v error -y -i "$2" -f rawvideo -pix_fmt "$3" "$decoded" ||
    { echo "FAIL: ffmpeg cannot decode $2" >&2; exit 1; }
"$here/same_frames.sh" "$4" "$decoded" "$5" "$6" "${7:-0}"
