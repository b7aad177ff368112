#!/usr/bin/env bash
# End-to-end checks of what `talverox encode` reads: input_cli_test.sh CASE
# TALVEROX. ffmpeg makes the inputs and the reference pixels; without it
# the case is skipped (exit 77).
set -euo pipefail

case_name=$1
talverox=$2
command -v ffmpeg >/dev/null || { echo "ffmpeg not found"; exit 77; }
command -v ffprobe >/dev/null || { echo "ffprobe not found"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/talverox-input-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }
ff() { ffmpeg -nostdin -v error -y "$@"; }
frames_in() { ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames \
    -of csv=p=0 "$1"; }
frames_of() { ffprobe -v error -count_packets -select_streams v:0 \
    -show_entries stream=nb_read_packets -of csv=p=0 "$1"; }

depth_format() {
    case $1 in
        8) echo gray ;; 16) echo gray16le ;; 24) echo bgr24 ;; 32) echo bgra ;;
    esac
}

# Frames of $1 x $2 cut from a larger moving picture, as raw $3 in NUT.
make_clip() {
    ff -f lavfi -i "testsrc2=size=1936x64:rate=10" -frames:v 3 \
        -vf "format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='mod(X*3+Y*5+N*7,256)',crop=$1:$2:3:1" \
        -pix_fmt "$3" -c:v rawvideo "$4"
}

case $case_name in
odd_widths)
    # Widths that are not a multiple of 16 once made swscale write past the
    # rows; every depth must round-trip exactly, with or without --depth.
    for size in 1x40 5x13 36x20 1921x3; do
        for depth in 8 16 24 32; do
            pixels=$(depth_format "$depth")
            make_clip "${size%x*}" "${size#*x}" "$pixels" source.nut
            ff -i source.nut -f rawvideo -pix_fmt "$pixels" expected.raw
            "$talverox" encode source.nut clip.avi --jobs 2 -y >/dev/null
            "$talverox" info clip.avi | grep -q "depth        $depth bits" ||
                fail "$size $pixels is not stored at $depth bits by default"
            "$talverox" decode clip.avi decoded.raw -y >/dev/null
            cmp -s expected.raw decoded.raw || fail "$size at $depth bits does not round-trip"
        done
    done
    ;;

lossless_default)
    # The depth follows the source; a deeper source than the rows is named.
    make_clip 40 30 gray16be g16.nut
    "$talverox" encode g16.nut g16.avi 2>err.txt >/dev/null
    ! grep -q "note:" err.txt || fail "a lossless encode printed a note: $(cat err.txt)"
    ff -i g16.nut -f rawvideo -pix_fmt gray16le expected.raw
    "$talverox" decode g16.avi decoded.raw >/dev/null
    cmp -s expected.raw decoded.raw || fail "16-bit gray is not kept"
    "$talverox" encode g16.nut g8.avi --depth 24 2>err.txt >/dev/null
    grep -q "16 bits per sample become 8" err.txt || fail "no note on lost bits: $(cat err.txt)"
    grep -q "\-\-depth 16" err.txt || fail "the note does not say how to keep them"
    make_clip 40 30 rgb48le rgb48.nut
    "$talverox" encode rgb48.nut rgb48.avi 2>err.txt >/dev/null
    [[ $(grep -c "note:" err.txt) == 1 ]] || fail "expected one note on stderr: $(cat err.txt)"
    ;;

yuv_matrix)
    # BT.709 limited-range YUV must come out as ffmpeg converts it with the
    # same matrix, not BT.601.
    ff -f lavfi -i "testsrc2=size=64x48:rate=10" -frames:v 2 \
        -vf "scale=out_color_matrix=bt709:out_range=tv,format=yuv444p" \
        -colorspace bt709 -color_range tv -c:v ffv1 yuv709.mkv
    "$talverox" encode yuv709.mkv yuv.avi 2>err.txt >/dev/null
    grep -q "BT.709, limited range" err.txt || fail "no note naming the matrix: $(cat err.txt)"
    ff -i yuv709.mkv -vf "scale=in_color_matrix=bt709:in_range=tv:flags=bicubic+accurate_rnd+full_chroma_int,format=bgr24" \
        -f rawvideo expected709.raw
    ff -i yuv709.mkv -vf "scale=in_color_matrix=bt601:in_range=tv:flags=bicubic+accurate_rnd+full_chroma_int,format=bgr24" \
        -f rawvideo expected601.raw
    "$talverox" decode yuv.avi decoded.raw >/dev/null
    cmp -s expected601.raw expected709.raw && fail "the clip does not tell the matrices apart"
    cmp -s expected709.raw decoded.raw || fail "BT.709 pictures were not converted as BT.709"
    ;;

variable_rate)
    # 18 pictures over 2.8 s with uneven gaps (MP4 gives an average rate of
    # 45/7 and a base rate of 10): as many frames as ffmpeg's
    # constant-rate AVI, with the same pictures in them.
    ff -f lavfi -i "testsrc2=size=64x48:rate=10" -frames:v 18 \
        -vf "setpts='if(lt(N,8),N,2*N-7)/10/TB',format=rgb24" -fps_mode vfr -c:v png vfr.mp4
    "$talverox" encode vfr.mp4 cfr.avi 2>err.txt >/dev/null
    grep -q "10 pictures repeated" err.txt || fail "no note on repeated pictures: $(cat err.txt)"
    # FFmpeg's AVI keeps the gaps as empty chunks; its header counts them.
    ff -i vfr.mp4 -c:v rawvideo -pix_fmt bgr24 ffmpeg.avi
    [[ $(frames_in cfr.avi) == $(frames_in ffmpeg.avi) ]] ||
        fail "$(frames_in cfr.avi) frames where ffmpeg writes $(frames_in ffmpeg.avi)"
    ff -i vfr.mp4 -fps_mode cfr -f rawvideo -pix_fmt bgr24 expected.raw
    "$talverox" decode cfr.avi decoded.raw >/dev/null
    cmp -s expected.raw decoded.raw || fail "the repeated pictures differ from ffmpeg's"
    ;;

size_change)
    # An image sequence whose pictures change size midway: scaled to the
    # first size, with a note, never garbage.
    ff -f lavfi -i "testsrc2=size=48x32:rate=10" -frames:v 3 -start_number 0 pic%02d.png
    ff -f lavfi -i "testsrc2=size=38x22:rate=10" -frames:v 2 -start_number 3 pic%02d.png
    "$talverox" encode pic%02d.png seq.avi --jobs 2 2>err.txt >/dev/null
    grep -q "changes from 48x32 to 38x22" err.txt || fail "no note on the size change"
    "$talverox" info seq.avi | grep -q "frames       5" || fail "not 5 frames"
    ff -i pic03.png -vf "scale=48:32:flags=bicubic+accurate_rnd+full_chroma_int,format=bgr24" \
        -f rawvideo scaled.raw
    "$talverox" decode seq.avi decoded.raw >/dev/null
    dd if=decoded.raw of=fourth.raw bs=$((48 * 32 * 3)) skip=3 count=1 status=none
    cmp -s scaled.raw fourth.raw || fail "the smaller picture is not scaled to the first size"
    ;;

audio_kept)
    ff -f lavfi -i "testsrc2=size=64x48:rate=10" -f lavfi -i "sine=frequency=440:sample_rate=22050" \
        -t 2 -c:v ffv1 -pix_fmt bgr0 -c:a aac clip.mkv
    "$talverox" encode clip.mkv with.avi >/dev/null
    ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate \
        -of csv=p=0 with.avi | grep -q "pcm_s16le,22050" || fail "no PCM audio stream"
    # About two seconds of sound, in step with 20 frames.
    bytes=$(ffprobe -v error -select_streams a:0 -show_entries packet=size -of csv=p=0 with.avi |
        awk '{ n += $1 } END { print n }')
    awk -v b="$bytes" 'BEGIN { exit !(b > 1.9 * 44100 && b < 2.2 * 44100) }' ||
        fail "$bytes bytes of mono 16-bit audio at 22050 Hz"
    [[ $(frames_of with.avi) == 20 ]] || fail "$(frames_of with.avi) frames"
    # Sound that starts half a second after the pictures still does.
    ff -f lavfi -i "testsrc2=size=64x48:rate=10" -itsoffset 0.5 \
        -f lavfi -i "sine=frequency=440:sample_rate=8000" -t 2 -c:v ffv1 -c:a pcm_s16le late.mkv
    "$talverox" encode late.mkv late.avi >/dev/null 2>&1
    ff -i late.avi -map 0:a -t 0.49 -f s16le before.pcm
    ff -i late.avi -map 0:a -ss 0.51 -t 0.2 -f s16le after.pcm
    cmp -s -n "$(stat -c %s before.pcm)" before.pcm /dev/zero || fail "sound before its start"
    ! cmp -s -n "$(stat -c %s after.pcm)" after.pcm /dev/zero || fail "silence after its start"
    "$talverox" encode clip.mkv without.avi --no-audio >/dev/null
    [[ -z $(ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 without.avi) ]] ||
        fail "--no-audio kept the audio"
    ;;

truncated_recovery)
    make_clip 64 48 bgr24 source.nut
    ff -i source.nut -f rawvideo -pix_fmt bgr24 expected.raw
    "$talverox" encode source.nut whole.avi >/dev/null
    head -c $(($(stat -c %s whole.avi) - 1)) whole.avi >cut.avi
    "$talverox" decode cut.avi decoded.raw 2>err.txt >/dev/null
    grep -q "recovered 3 whole frames" err.txt || fail "no recovery note: $(cat err.txt)"
    cmp -s expected.raw decoded.raw || fail "the frames of a file one byte short differ"
    ;;

*)
    fail "unknown case $case_name"
    ;;
esac
echo "ok: $case_name"
