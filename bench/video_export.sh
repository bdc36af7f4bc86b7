#!/usr/bin/env bash
# The video export of the demo song at 1920x1080 against ffmpeg encoding the very same frames from
# raw video with the same encoder settings, measured in the same run:
#   - our whole export (render, drawing, conversion, encoding, muxing) at 60 fps, its time over
#     ffmpeg's from raw frames and sound (the aim is at most 1.3), and the same ratio of processor
#     time (user + system), which a busy machine disturbs less;
#   - the export's speed as a multiple of real time at 30 and at 60 fps (aim: 2x at 30 fps);
#   - the size of the video at "standard" (aim: under 25 MB for 95 s) and the export's peak
#     resident memory (aim: under 300 MB).
# The raw frames are the export's own (dumped once, as yuv420p, by a hidden option), so ffmpeg
# encodes exactly what we encode. They take about 3 MB a frame: some 18 GB for the demo song, in
# a scratch folder under TMPDIR (or /tmp) that is removed at the end.
# Usage: bench/video_export.sh [BUILD_DIR] [SF2]   (SONG=FILE.mid for another song)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
sf2=${2:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
song=${SONG:-$(cd "$(dirname "$0")/.." && pwd)/examples/demo_song.mid}
cli="$build/src/cli/dorvik-midi"
work=$(mktemp -d -p "${TMPDIR:-/tmp}")
trap 'rm -rf "$work"' EXIT
threads=$(nproc)

# "elapsed cpu peak_kb" of one run of the command.
measure() {
    local out
    if ! out=$(/usr/bin/time -f '%e %U %S %M' "$@" 2>&1 >/dev/null </dev/null); then
        echo "failed: $*" >&2
        echo "$out" >&2
        exit 1
    fi
    tail -n 1 <<<"$out" | awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }'
}

# The sound as the export renders it, for the reference to encode.
"$cli" render --soundfont "$sf2" "$song" -o "$work/song.wav" >/dev/null
seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/song.wav")
"$cli" video --soundfont "$sf2" "$song" -o "$work/dump.mp4" --dump-raw "$work/frames.yuv" >/dev/null
rm -f "$work/dump.mp4"
# The video opens on its title and lead-in: the reference puts as much silence before the sound.
frames=$(($(stat -c %s "$work/frames.yuv") / (1920 * 1080 * 3 / 2)))
read -r rate samples < <(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,duration_ts \
    -of csv=p=0 "$work/song.wav" | tr ',' ' ')
intro=$((frames - (samples * 60 + rate - 1) / rate))

ours60=$(measure "$cli" video --soundfont "$sf2" "$song" -o "$work/ours60.mp4")
ref60=$(measure ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 60 -i "$work/frames.yuv" \
    -i "$work/song.wav" -map 0:v -map 1:a -af "adelay=$((intro * 1000 / 60)):all=1" -c:v libx264 -preset superfast -crf 23 -threads "$threads" \
    -x264-params sync-lookahead=0 -colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv \
    -c:a aac -b:a 192k -movflags +faststart "$work/ref60.mp4")
rm -f "$work/frames.yuv"
ours30=$(measure "$cli" video --soundfont "$sf2" "$song" -o "$work/ours30.mp4" --fps 30)
render=$(measure "$cli" render --soundfont "$sf2" "$song" -o "$work/again.wav")

size() { stat -c %s "$1"; }
printf 'demo song: %.1f s with its tail, %s, 1920x1080, standard (x264 superfast, CRF 23), %d threads\n' \
    "$seconds" "$(basename "$sf2")" "$threads"
printf '%-34s %8s %8s %9s %9s\n' run elapsed_s cpu_s peak_MB size_MB
row() {
    awk -v n="$1" -v m="$2" -v s="${3:-0}" 'BEGIN { split(m, x, " ");
        printf "%-34s %8.1f %8.1f %9.1f %9.2f\n", n, x[1], x[2], x[3] / 1024, s / 1e6 }'
}
row "dorvik-midi video, 60 fps" "$ours60" "$(size "$work/ours60.mp4")"
row "ffmpeg from raw frames, 60 fps" "$ref60" "$(size "$work/ref60.mp4")"
row "dorvik-midi video, 30 fps" "$ours30" "$(size "$work/ours30.mp4")"
row "  of which the render (alone)" "$render"
awk -v o="$ours60" -v r="$ref60" -v t="$ours30" -v s="$seconds" -v sz="$(size "$work/ours60.mp4")" 'BEGIN {
    split(o, a, " "); split(r, b, " "); split(t, c, " ")
    printf "ratio to ffmpeg at 60 fps: %.2f elapsed, %.2f processor (aim: at most 1.3)\n", a[1] / b[1], a[2] / b[2]
    printf "speed: %.2fx real time at 30 fps (aim: at least 2), %.2fx at 60 fps\n", s / c[1], s / a[1]
    printf "size at 60 fps: %.1f MB for %.0f s; peak memory %.0f MB (aims: under 25 MB, under 300 MB)\n",
        sz / 1e6, s, (a[3] > c[3] ? a[3] : c[3]) / 1024
}'
