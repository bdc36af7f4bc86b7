#!/usr/bin/env bash
# Peak memory (resident set) of `dorvik-midi render` (the normalised render, which streams the
# song through a scratch file) against FluidSynth's own command line on the same song, measured
# in the same run: a 30-minute two-hand piece made by the demo-song tool, with
# the FluidR3 General MIDI SoundFont by default. Prints both peaks and their ratio; at most 2 is
# the aim. Usage: bench/render_memory.sh [BUILD_DIR] [SECONDS] [SF2]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
seconds=${2:-1800}
sf2=${3:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tools/make_demo_song" --seconds "$seconds" "$work/song.mid"
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
ours=$(peak "$build/src/cli/dorvik-midi" render --soundfont "$sf2" "$work/song.mid" -o "$work/ours.wav")
theirs=$(peak fluidsynth -ni -g 0.5 -F "$work/theirs.wav" "$sf2" "$work/song.mid")

echo "song: $seconds s, $(basename "$sf2"); output $(stat -c %s "$work/ours.wav") bytes"
printf '%-28s %8d KB\n' "dorvik-midi render" "$ours" "fluidsynth -F (reference)" "$theirs"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ratio: %.2f (aim: at most 2)\n", a / b }'
