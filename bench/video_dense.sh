#!/usr/bin/env bash
# The video export of a dense song at 1920x1080 and 30 fps against real time and against ffmpeg
# encoding the very same frames with the same encoder settings, measured in the same run. The song
# is made here at run time (one note a tick on many tracks, 30,000 notes a second; by default 2
# million notes, about 67 s), so nothing big is kept in the repository. Prints:
#   - the export's elapsed and processor time, and its speed as a multiple of real time (the aim is
#     at least 1 on two processors);
#   - where the time goes: the sound's render alone (`dorvik-midi render` of the same song), the
#     encoding alone (ffmpeg from the export's own raw frames, x264 superfast CRF 23 as the export's
#     standard quality, and the sound as AAC), and the drawing and conversion as what is left of
#     the export's processor time;
#   - the ratio of the export to the reference, elapsed and in processor time.
# The raw frames take about 3 MB each (some 6 GB for the default song), in a scratch folder under
# TMPDIR (or /tmp) that is removed at the end.
# Usage: bench/video_dense.sh [BUILD_DIR] [SF2] [NOTES]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
sf2=${2:-/usr/share/sounds/sf2/TimGM6mb.sf2}
notes=${3:-2000000}
cli="$build/src/cli/dorvik-midi"
work=$(mktemp -d -p "${TMPDIR:-/tmp}")
trap 'rm -rf "$work"' EXIT
threads=$(nproc)
[ -x "$build/tools/make_dense_song" ] || { echo "video_dense: build make_dense_song first" >&2; exit 1; }

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

song="$work/dense.mid"
"$build/tools/make_dense_song" --notes "$notes" --seconds $((notes / 30000 + 1)) "$song"

render=$(measure "$cli" render --soundfont "$sf2" "$song" -o "$work/song.wav")
seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/song.wav")
ours=$(measure "$cli" video --fps 30 --soundfont "$sf2" "$song" -o "$work/ours.mp4")

# The export's own frames, for the reference to encode; this run is not timed.
"$cli" video --fps 30 --soundfont "$sf2" "$song" -o "$work/dump.mp4" --dump-raw "$work/frames.yuv" >/dev/null
rm -f "$work/dump.mp4"
frames=$(($(stat -c %s "$work/frames.yuv") / (1920 * 1080 * 3 / 2)))
ref=$(measure ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 30 -i "$work/frames.yuv" \
    -i "$work/song.wav" -map 0:v -map 1:a -c:v libx264 -preset superfast -crf 23 -threads "$threads" \
    -x264-params sync-lookahead=0 -colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv \
    -c:a aac -b:a 192k -movflags +faststart "$work/ref.mp4")
rm -f "$work/frames.yuv"

printf 'dense song: %d notes, %.1f s with its tail, %s; 1920x1080 at 30 fps (%d frames), standard, %d threads\n' \
    "$notes" "$seconds" "$(basename "$sf2")" "$frames" "$threads"
printf '%-40s %9s %8s %8s\n' run elapsed_s cpu_s peak_MB
row() { awk -v n="$1" -v m="$2" 'BEGIN { split(m, x, " "); printf "%-40s %9.1f %8.1f %8.0f\n", n, x[1], x[2], x[3] / 1024 }'; }
row "dorvik-midi video --fps 30" "$ours"
row "  the sound's render (alone)" "$render"
row "ffmpeg from the raw frames (reference)" "$ref"
awk -v o="$ours" -v r="$ref" -v s="$render" -v len="$seconds" 'BEGIN {
    split(o, a, " "); split(r, b, " "); split(s, c, " ")
    printf "speed: %.2fx real time (aim: at least 1)\n", len / a[1]
    printf "ratio to ffmpeg: %.2f elapsed, %.2f processor\n", a[1] / b[1], a[2] / b[2]
    draw = a[2] - b[2] - c[2]
    printf "processor time: render %.1f s (%.0f%%), encoding %.1f s (%.0f%%), drawing and the rest %.1f s (%.0f%%)\n",
        c[2], 100 * c[2] / a[2], b[2], 100 * b[2] / a[2], draw, 100 * draw / a[2]
    printf "after the render: %.1f s of the export for %.1f s of frames and sound\n", a[1] - c[1], len
}'
