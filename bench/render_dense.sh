#!/usr/bin/env bash
# Peak memory (resident set) and time of `dorvik-midi render` against FluidSynth's own command line
# on dense songs made here at run time (one note a tick on many tracks, 30,000 notes a second), in
# the same run: by default a song of 2 million notes, and of each count given after the SoundFont.
# Songs of 4 MB of MIDI data or more are played by the render's own sequencer; the aim is a peak at
# most the command's, which copies every event of the file. Prints both peaks, both times and
# their ratios. Usage: bench/render_dense.sh [BUILD_DIR] [SF2] [NOTES...]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
sf2=${2:-/usr/share/sounds/sf2/TimGM6mb.sf2}
shift $(($# > 2 ? 2 : $#))
counts=("${@:-2000000}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -x "$build/tools/make_dense_song" ] || { echo "render_dense: build make_dense_song first" >&2; exit 1; }

# Peak resident kilobytes and wall seconds of a command, its output thrown away.
measure() { /usr/bin/time -f '%M %e' "$@" 2>&1 >/dev/null | tail -n 1; }

for notes in "${counts[@]}"; do
    seconds=$((notes / 30000 + 1))
    song="$work/dense-$notes.mid"
    "$build/tools/make_dense_song" --notes "$notes" --seconds "$seconds" "$song"
    read -r ours_kb ours_s < <(measure "$build/src/cli/dorvik-midi" render --soundfont "$sf2" "$song" -o "$work/ours.wav")
    rm -f "$work/ours.wav"
    read -r theirs_kb theirs_s < <(measure fluidsynth -ni -g 0.5 -F "$work/theirs.wav" "$sf2" "$song")
    rm -f "$work/theirs.wav"
    echo "song: $notes notes over $seconds s, $(stat -c %s "$song") bytes of MIDI, $(basename "$sf2")"
    printf '%-28s %9d KB %8.1f s\n' "dorvik-midi render" "$ours_kb" "$ours_s" \
        "fluidsynth -F (reference)" "$theirs_kb" "$theirs_s"
    awk -v a="$ours_kb" -v b="$theirs_kb" -v c="$ours_s" -v d="$theirs_s" \
        'BEGIN { printf "peak ratio: %.2f (aim: at most 1)   time ratio: %.2f\n", a / b, c / d }'
    rm -f "$song"
done
