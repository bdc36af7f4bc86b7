#!/usr/bin/env bash
# Render time of `dorvik-midi render` against FluidSynth's own command line, measured in the same
# run on the same song: a 300-second two-hand piece (the demo piece, repeated and re-timed) with
# the FluidR3 General MIDI SoundFont. Prints both times and their ratio; at most 1.05 is the aim.
# Usage: bench/render_ratio.sh [BUILD_DIR] [SECONDS] [RUNS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
seconds=${2:-300}
runs=${3:-5}
sf2=/usr/share/sounds/sf2/FluidR3_GM.sf2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tools/make_demo_song" --seconds "$seconds" "$work/song.mid"
ours="'$build/src/cli/dorvik-midi' render --soundfont '$sf2' '$work/song.mid' -o '$work/ours.wav'"
theirs="fluidsynth -ni -g 0.5 -F '$work/theirs.wav' '$sf2' '$work/song.mid'"

hyperfine --warmup 1 --runs "$runs" --export-json "$work/times.json" --command-name dorvik-midi "$ours" \
    --command-name fluidsynth "$theirs" >/dev/null

cmp -s "$work/ours.wav" "$work/theirs.wav" && same="byte-identical" || same="DIFFERENT"
python3 - "$work/times.json" "$seconds" "$same" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
ours, theirs = results["dorvik-midi"], results["fluidsynth"]
print(f"song: {sys.argv[2]} s, FluidR3_GM; outputs {sys.argv[3]}")
for name, r in (("dorvik-midi render", ours), ("fluidsynth -F (reference)", theirs)):
    print(f"{name:28s} {r['mean']:7.3f} s ± {r['stddev']:.3f}  (min {r['min']:.3f})")
print(f"ratio (mean): {ours['mean'] / theirs['mean']:.3f}   ratio (min): {ours['min'] / theirs['min']:.3f}")
PY
