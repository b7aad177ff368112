#!/bin/bash
# Has ffmpeg write an MPNG AVI with its own PNG encoder, decodes it through
# AVIFile, the VCM and the installed DLL under Wine, and compares the frames
# with ffmpeg's own decoding of the same file.
#
# Usage: dll_reads_ffmpeg_clip.sh FFMPEG WINE avi_decode.exe PIX_FMT RAW_FMT
#        WIDTH HEIGHT FRAMES BYTES_PER_PIXEL [EXTRA]
# PIX_FMT is the PNG's pixel format, RAW_FMT the one the DLL's rows have.
set -u
ffmpeg=$1
wine=$2
decoder=$3
pix_fmt=$4
raw_fmt=$5
width=$6
height=$7
frames=$8
bytes_per_pixel=$9
extra=${10:-0}
here=$(dirname "$0")
clip="ffmpeg_$pix_fmt.avi"

"$ffmpeg" -v error -y -f lavfi -i "testsrc2=size=${width}x${height}:rate=10" -frames:v "$frames" \
    -c:v png -pix_fmt "$pix_fmt" -vtag MPNG "$clip" ||
    { echo "FAIL: ffmpeg cannot write $clip" >&2; exit 1; }
"$wine" "$decoder" "$clip" "ffmpeg_$pix_fmt.dll.raw" || { echo "FAIL: avi_decode" >&2; exit 1; }
"$ffmpeg" -v error -y -i "$clip" -f rawvideo -pix_fmt "$raw_fmt" "ffmpeg_$pix_fmt.ffmpeg.raw" ||
    { echo "FAIL: ffmpeg cannot decode $clip" >&2; exit 1; }
"$here/same_frames.sh" "ffmpeg_$pix_fmt.dll.raw" "ffmpeg_$pix_fmt.ffmpeg.raw" \
    $((width * height * bytes_per_pixel)) "$frames" "$extra"
