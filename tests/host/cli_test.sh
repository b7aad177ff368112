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
    # YUV4MPEG holds 8-bit gray exactly and nothing else; piped, the
    # summary must stay out of the stream.
    if [[ $depth == 8 ]]; then
        "$talverox" decode clip.avi - --format y4m | ff -i - -f rawvideo -pix_fmt gray from_y4m.raw
        cmp expected.raw from_y4m.raw || fail "the piped .y4m output differs"
    else
        expect_failure "decoded.y4m cannot hold $depth-bit .mkv .nut" \
            "$talverox" decode clip.avi decoded.y4m
        [[ ! -e decoded.y4m ]] || fail "a refused decode left decoded.y4m behind"
    fi
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
    # info tells from the writer's name, and --flip gives FFmpeg's picture.
    "$talverox" info ffmpeg.avi | grep -q "top row first" || fail "info misses the row order"
    ff -i ffmpeg.avi -f rawvideo -pix_fmt "$raw" upright.raw
    "$talverox" decode ffmpeg.avi flipped.raw --flip
    cmp upright.raw flipped.raw || fail "--flip does not give ffmpeg's picture"
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
    # Zeros over the first frame's compressed data, past its PNG header:
    # the first frame chunk starts 4 bytes after the "movi" list type.
    movi=$(grep -obUa movi whole.avi | head -1 | cut -d: -f1)
    cp whole.avi damaged.avi
    dd if=/dev/zero of=damaged.avi bs=1 seek=$((movi + 72)) count=40 conv=notrunc status=none
    expect_failure "damaged.avi ICM_DECOMPRESS ICERR_ERROR frame 0" \
        "$talverox" decode damaged.avi out.mkv
    [[ ! -e out.mkv ]] || fail "a failed decode left out.mkv behind"
    ;;

tiny_frames)
    # Frames smaller than a PNG's fixed chunks still fit the codec's buffer.
    for size in 1x1 2x2 4x4; do
        ff -f lavfi -i "testsrc2=size=64x48:rate=5" -vf "format=bgr24,crop=${size/x/:}:0:0" \
            -frames:v 2 -c:v rawvideo tiny.nut
        ff -i tiny.nut -f rawvideo -pix_fmt bgr24 expected.raw
        "$talverox" encode tiny.nut tiny.avi -y
        "$talverox" decode tiny.avi tiny.raw -y
        cmp expected.raw tiny.raw || fail "$size frames do not round-trip"
    done
    ;;

never_harms)
    # Every way a run can go wrong with files around: it must fail, say
    # why, and leave every file as it was, with no temporary file behind.
    make_source bgr24 source.nut
    "$talverox" encode source.nut clip.avi
    ln -s clip.avi link.avi
    ln clip.avi hard.avi
    cp clip.avi readonly.avi && chmod a-w readonly.avi
    echo "keep me" >kept.avi
    cp clip.avi kept.mkv
    cp clip.avi damaged.avi
    # Zeros inside the last frame: the decode fails after five good frames.
    size=$(stat -c %s clip.avi)
    dd if=/dev/zero of=damaged.avi bs=1 seek=$((size - 400)) count=40 conv=notrunc status=none
    mkdir state
    # Everything but this script's own notes: names, modes, sizes, sums.
    snapshot() {
        find . -path ./state -prune -o -type f ! -name out.txt ! -name err.txt \
            -printf '%p %m %s ' -exec md5sum {} \; | sort
    }
    snapshot >state/before.txt
    while IFS='|' read -r words command; do
        expect_failure "$words" eval "$command" </dev/null
        snapshot | diff state/before.txt - || fail "'$command' changed files"
        [[ -z $(find . -name '.*partial*') ]] || fail "'$command' left a temporary file"
    done <<'CASES'
the input file|"$talverox" encode clip.avi clip.avi -y
the input file|"$talverox" encode link.avi clip.avi -y
the input file|"$talverox" decode link.avi clip.avi -y
the input file|"$talverox" decode clip.avi hard.avi -y
read-only|"$talverox" encode source.nut readonly.avi -y
read-only|"$talverox" decode clip.avi readonly.avi -y
-y|"$talverox" encode source.nut kept.avi
left as it is|"$talverox" encode source.nut kept.avi -n
ICERR_ERROR frame 5|"$talverox" decode damaged.avi kept.mkv -y
ICERR_ERROR|"$talverox" decode damaged.avi new.mkv
a device|"$talverox" encode source.nut /dev/null -y
a device|"$talverox" decode clip.avi /dev/null -y
.avi|"$talverox" encode source.nut clip.mkv
CASES
    [[ -c /dev/null ]] || fail "/dev/null is gone"

    # Ctrl-C midway: the frames done make a whole file that others read.
    ff -re -f lavfi -i "testsrc2=size=160x120:rate=25" -frames:v 1000 -pix_fmt bgr24 \
        -c:v rawvideo -f nut - 2>/dev/null | "$talverox" encode - live.avi --jobs 1 2>state/signal.txt &
    pid=$!
    sleep 2
    kill -INT "$pid"
    status=0
    wait "$pid" || status=$?
    cat state/signal.txt
    [[ $status == 130 ]] || fail "an interrupted encode exited with $status, not 130"
    frames=$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=nb_read_frames -of csv=p=0 live.avi)
    ((frames > 0)) || fail "the interrupted file holds no frames ffprobe reads"
    grep -q "stopped by signal after $frames frames" state/signal.txt ||
        fail "ffprobe reads $frames frames, not the count reported"
    "$talverox" decode live.avi live.raw
    (($(stat -c %s live.raw) == frames * 160 * 120 * 3)) || fail "decode reads another count"
    [[ -z $(find . -name '.*partial*') ]] || fail "the interrupted run left a temporary file"
    ;;

version)
    "$talverox" --version | grep -qE '^talverox [0-9]+\.[0-9]+\.[0-9]+$' || fail "--version"
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
