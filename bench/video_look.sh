#!/usr/bin/env bash
# The video export as people post it, 1920x1080 at 30 fps with its title card, lead-in and a theme,
# against ffmpeg encoding the very same frames from raw video with the same encoder settings and
# the same sound (the rendered song after the intro's silence), measured in the same run:
#   - the export's speed as a multiple of real time (aim: at least 2x);
#   - its time over ffmpeg's from raw frames (aim: at most 1.3), and the same ratio of processor
#     time (user + system), which a busy machine disturbs less.
# The raw frames are the export's own (dumped once by a hidden option): about 3 MB a frame, some
# 9 GB for the demo song, in a scratch folder under TMPDIR (or /tmp) that is removed at the end.
# Usage: bench/video_look.sh [BUILD_DIR] [SF2]   (SONG=FILE.mid for another song, THEME=dark|light|contrast)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
sf2=${2:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
song=${SONG:-$(cd "$(dirname "$0")/.." && pwd)/examples/demo_song.mid}
theme=${THEME:-light}
cli="$build/src/cli/dorvik-midi"
work=$(mktemp -d -p "${TMPDIR:-/tmp}")
trap 'rm -rf "$work"' EXIT
threads=$(nproc)
look=(--size 1920x1080 --fps 30 --theme "$theme" --title "Demo Song")

# "elapsed cpu" of one run of the command.
measure() {
    local out
    if ! out=$(/usr/bin/time -f '%e %U %S' "$@" 2>&1 >/dev/null </dev/null); then
        echo "failed: $*" >&2
        echo "$out" >&2
        exit 1
    fi
    tail -n 1 <<<"$out" | awk '{ printf "%s %.2f\n", $1, $2 + $3 }'
}

"$cli" render --soundfont "$sf2" "$song" -o "$work/song.wav" >/dev/null
"$cli" video --soundfont "$sf2" "$song" -o "$work/dump.mp4" "${look[@]}" --dump-raw "$work/frames.yuv" >/dev/null
rm -f "$work/dump.mp4"
# The intro is what the frames hold beyond the sound's own; the reference puts as much silence
# before the sound.
frames=$(($(stat -c %s "$work/frames.yuv") / (1920 * 1080 * 3 / 2)))
read -r rate samples < <(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,duration_ts \
    -of csv=p=0 "$work/song.wav" | tr ',' ' ')
intro=$((frames - (samples * 30 + rate - 1) / rate))
seconds=$(awk -v f="$frames" 'BEGIN { printf "%.2f", f / 30 }')

ours=$(measure "$cli" video --soundfont "$sf2" "$song" -o "$work/ours.mp4" "${look[@]}")
ref=$(measure ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 30 -i "$work/frames.yuv" \
    -i "$work/song.wav" -map 0:v -map 1:a -af "adelay=$((intro * 1000 / 30)):all=1" \
    -c:v libx264 -preset superfast -crf 23 -threads "$threads" -x264-params sync-lookahead=0 \
    -colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv \
    -c:a aac -b:a 192k -movflags +faststart "$work/ref.mp4")

printf 'demo song: %s s of video (%d intro frames), %s theme, %s, 1920x1080 at 30 fps, %d threads\n' \
    "$seconds" "$intro" "$theme" "$(basename "$sf2")" "$threads"
printf '%-40s %9s %8s\n' run elapsed_s cpu_s
awk -v o="$ours" -v r="$ref" -v s="$seconds" 'BEGIN {
    split(o, a, " "); split(r, b, " ")
    printf "%-40s %9.1f %8.1f\n", "dorvik-midi video (render included)", a[1], a[2]
    printf "%-40s %9.1f %8.1f\n", "ffmpeg from raw frames", b[1], b[2]
    printf "ratio to ffmpeg: %.2f elapsed, %.2f processor (aim: at most 1.3)\n", a[1] / b[1], a[2] / b[2]
    printf "speed: %.2fx real time (aim: at least 2)\n", s / a[1]
}'
