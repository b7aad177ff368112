#!/usr/bin/env bash
# End-to-end checks of the talverox command: cli_test.sh CASE TALVEROX.
# ffmpeg makes the inputs and the reference pixels; without it the case is
# skipped (exit 77).
set -euo pipefail

case_name=$1
talverox=$2
command -v ffmpeg >/dev/null || { echo "ffmpeg not found"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/talverox-cli-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }
ff() { ffmpeg -nostdin -v error -y "$@"; }

# A moving clip of 63x47 pixels (odd, so DIB rows carry padding) stored
# losslessly as raw $1 pixels in NUT.
make_source() {
    ff -f lavfi -i "testsrc2=size=64x48:rate=10" -frames:v 6 \
        -vf "format=rgba,crop=63:47:0:0,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='mod(X*4+Y*2+N*9,256)'" \
        -pix_fmt "$1" -c:v rawvideo "$2"
}

# Runs a command that must fail: non-zero exit and every given word in
# its error output.
expect_failure() {
    local words=$1
    shift
    if "$@" >out.txt 2>err.txt; then
        fail "'$*' succeeded"
    fi
    cat err.txt
    local word
    for word in $words; do
        grep -qF -- "$word" err.txt || fail "error output lacks '$word'"
    done
}

depth_format() {
    case $1 in
        8) echo gray ;; 16) echo gray16le ;; 24) echo bgr24 ;; 32) echo bgra ;;
    esac
}

case $case_name in
round_trip_8 | round_trip_16 | round_trip_24 | round_trip_32)
    depth=${case_name#round_trip_}
    pixels=$(depth_format "$depth")
    make_source "$pixels" source.nut
    ff -i source.nut -f rawvideo -pix_fmt "$pixels" expected.raw
    "$talverox" encode source.nut clip.avi --depth "$depth" --jobs 2
    "$talverox" info clip.avi | tee info.txt
    grep -q "depth        $depth bits" info.txt || fail "info does not give the depth"
    grep -q "frames       6" info.txt || fail "info does not count 6 frames"
    "$talverox" decode clip.avi decoded.raw --jobs 2
    cmp expected.raw decoded.raw || fail "depth $depth does not round-trip"
    # Lossless containers give the same pixels back.
    "$talverox" decode clip.avi decoded.mkv
    ff -i decoded.mkv -f rawvideo -pix_fmt "$pixels" from_mkv.raw
    cmp expected.raw from_mkv.raw || fail "the .mkv output differs"
    ;;

ffmpeg_avi_rgb24 | ffmpeg_avi_rgba | ffmpeg_avi_gray | ffmpeg_avi_gray16be)
    # FFmpeg stores PNG rows top row first; a VfW reader takes them as
    # bottom-up DIB rows, so our picture is FFmpeg's upside down.
    pixels=${case_name#ffmpeg_avi_}
    case $pixels in
        rgb24) raw=bgr24 ;; rgba) raw=bgra ;; gray) raw=gray ;; gray16be) raw=gray16le ;;
    esac
    make_source "$pixels" source.nut
    ff -i source.nut -c:v png -pred mixed ffmpeg.avi
    ff -i ffmpeg.avi -vf vflip -f rawvideo -pix_fmt "$raw" expected.raw
    "$talverox" decode ffmpeg.avi decoded.raw
    cmp expected.raw decoded.raw || fail "ffmpeg's $pixels AVI decodes differently"
    ;;

refuse_not_avi)
    echo "just some text, nothing like a video" >notes.avi
    expect_failure "notes.avi not an AVI" "$talverox" decode notes.avi out.raw
    expect_failure "notes.avi not an AVI" "$talverox" info notes.avi
    ;;

refuse_other_codec)
    make_source bgr24 source.nut
    ff -i source.nut -c:v mjpeg mjpeg.avi
    expect_failure "mjpeg.avi ICM_DECOMPRESS_QUERY ICERR_BADFORMAT 'MJPG'" \
        "$talverox" decode mjpeg.avi out.raw
    ;;

refuse_truncated)
    make_source bgr24 source.nut
    "$talverox" encode source.nut whole.avi
    size=$(stat -c %s whole.avi)
    head -c $((size / 2)) whole.avi >half.avi
    expect_failure "half.avi truncated" "$talverox" decode half.avi out.raw
    expect_failure "half.avi truncated" "$talverox" info half.avi
    head -c 20 whole.avi >stub.avi
    expect_failure "stub.avi truncated" "$talverox" decode stub.avi out.raw
    ;;

refuse_damaged_frame)
    make_source bgr24 source.nut
    "$talverox" encode source.nut whole.avi
    # Zeros over the first frame's compressed data, past its PNG header.
    cp whole.avi damaged.avi
    dd if=/dev/zero of=damaged.avi bs=1 seek=300 count=40 conv=notrunc status=none
    expect_failure "damaged.avi ICM_DECOMPRESS ICERR_ERROR frame 0" \
        "$talverox" decode damaged.avi out.mkv
    [[ ! -e out.mkv ]] || fail "a failed decode left out.mkv behind"
    ;;

refuse_tiny_frames)
    # Two bytes of picture cannot hold a PNG in a buffer of twice their size.
    ff -f lavfi -i "testsrc2=size=64x48:rate=5" -vf "format=bgr24,crop=2:1:0:0" -frames:v 2 \
        -c:v rawvideo tiny.nut
    expect_failure "tiny.nut ICM_COMPRESS ICERR_ERROR 2x1x24 too small" \
        "$talverox" encode tiny.nut tiny.avi
    [[ ! -e tiny.avi ]] || fail "a failed encode left tiny.avi behind"
    ;;

refuse_bad_arguments)
    make_source bgr24 source.nut
    expect_failure "--depth" "$talverox" encode source.nut out.avi --depth 12
    expect_failure "--jobs" "$talverox" encode source.nut out.avi --jobs 0
    expect_failure "missing.mkv" "$talverox" encode missing.mkv out.avi
    expect_failure "unknown command" "$talverox" transcode a b
    ;;

jobs_identical)
    ff -f lavfi -i "testsrc2=size=320x240:rate=25" -frames:v 24 -pix_fmt bgr24 -c:v rawvideo source.nut
    "$talverox" encode source.nut one.avi --jobs 1
    "$talverox" encode source.nut two.avi --jobs 2
    "$talverox" encode source.nut three.avi --jobs 3
    cmp one.avi two.avi || fail "--jobs 1 and --jobs 2 write different files"
    cmp one.avi three.avi || fail "--jobs 1 and --jobs 3 write different files"
    "$talverox" decode one.avi one.raw --jobs 1
    "$talverox" decode one.avi two.raw --jobs 2
    cmp one.raw two.raw || fail "--jobs 1 and --jobs 2 decode differently"
    ;;

demo)
    "$talverox" demo demo.avi --frames 4 --jobs 2 | tee out.txt
    grep -q "round trip bit-exact: all 4 frames match" out.txt || fail "demo did not verify"
    grep -q "encode .* fps" out.txt || fail "demo printed no encode speed"
    grep -q "decode .* fps" out.txt || fail "demo printed no decode speed"
    "$talverox" info demo.avi | grep -q "size         1280 x 720" || fail "demo.avi is not 1280x720"
    ;;

help)
    for command in encode decode info demo; do
        "$talverox" "$command" --help | grep -q "Usage: talverox $command" ||
            fail "$command --help"
    done
    "$talverox" --help | grep -q "Commands:" || fail "--help"
    ;;

*)
    fail "unknown case $case_name"
    ;;
esac
echo "ok: $case_name"
