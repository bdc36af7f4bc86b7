#!/usr/bin/env bash
# An export in the window against the same export by `dorvik-midi export`, on a rendered
# 300-second two-hand song, for the four transcoded formats and Ogg Vorbis. The window's export
# runs headless through the controller's commands under the window's frame pacing, with DRAW_MS
# of busy processor per frame standing in for the drawing (tests/export/export_frames). Prints
# both times, the ratio (the aim is at most 1.5) and the frames the window drew meanwhile.
# Usage: bench/window_export_ratio.sh [BUILD_DIR] [DRAW_MS]
set -euo pipefail
build=${1:-build}
draw_ms=${2:-3}
cli="$build/src/cli/dorvik-midi"
frames="$build/tests/export/export_frames"
soundfont=/usr/share/sounds/sf2/FluidR3_GM.sf2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tools/make_stress_song" --events 19200 "$work/song.mid"
fluidsynth -ni -g 0.5 -F "$work/song.wav" "$soundfont" "$work/song.mid" >/dev/null 2>&1
seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/song.wav")

printf 'song: %.1f s; %s ms of drawing per frame\n' "$seconds" "$draw_ms"
printf '%-6s %9s %9s %7s %7s %7s\n' format cli_ms window_ms ratio frames fps
for ext in flac m4a aac mp3 ogg; do
    rm -f "$work/cli.$ext" "$work/win.$ext"
    TIMEFORMAT='%3R'
    cli_s=$({ time "$cli" export "$work/song.wav" -o "$work/cli.$ext" >/dev/null 2>&1; } 2>&1)
    read -r win_s win_frames < <("$frames" "$work/song.wav" "$work/win.$ext" --draw-ms "$draw_ms")
    awk -v f="$ext" -v c="$cli_s" -v w="$win_s" -v n="$win_frames" 'BEGIN {
        printf "%-6s %9.0f %9.0f %7.2f %7d %7.1f\n", f, c * 1000, w * 1000, w / c, n, n / w
    }'
done
