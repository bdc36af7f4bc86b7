#!/usr/bin/env bash
# Drawing songs far denser than anyone plays, generated here (one note a tick on 16 tracks):
#   - a frame of the notes view and the time bar at 1536 x 832 on the software renderer, against
#     a frame that only clears, measured in the same run (view_frames cost), for 2,000,000 notes
#     over 66 s (30,000 notes a second) and for 1,000,000 notes within one second;
#   - a 320x180 video of the second song: its time a frame, all in (render, drawing, encoding).
# The frame's cost should not grow with the notes: the ratio of the dense songs stays near that
# of an ordinary one (bench/frame_cost.sh).
# Usage: bench/dense_frames.sh [BUILD_DIR] [SF2]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
sf2=${2:-/usr/share/sounds/sf2/TimGM6mb.sf2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tools/make_dense_song" --notes 2000000 --seconds 66 "$work/steady.mid"
"$build/tools/make_dense_song" --notes 1000000 --seconds 1 "$work/burst.mid"
for song in "$work/steady.mid" "$work/burst.mid"; do
    echo "$(basename "$song"):"
    "$build/tests/view/view_frames" cost --frames 120 "$song"
done

out=$(/usr/bin/time -f '%e %U %S' "$build/src/cli/dorvik-midi" video --soundfont "$sf2" "$work/burst.mid" \
      -o "$work/burst.mp4" --size 320x180 --fps 30 --no-title 2>&1 >/dev/null | tail -n 1)
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
         -of csv=p=0 "$work/burst.mp4")
awk -v t="$out" -v f="$frames" 'BEGIN {
    split(t, a, " ");
    printf "video of 1,000,000 notes in 1 s at 320x180: %d frames, %.1f s (%.1f s of processor), %.0f ms a frame\n",
           f, a[1], a[2] + a[3], 1000 * a[1] / f }'
