#!/usr/bin/env bash
# Render time of `dorvik-midi render` (normalised, the default) and `render --raw` against
# FluidSynth's own command line, all measured in the same run on the same song: a two-hand piece
# (the demo piece, repeated and re-timed to SECONDS) with the FluidR3 General MIDI SoundFont.
# Prints the times, the normalised render's ratio to the reference (at most 1.1 is the aim) and
# the raw one's, whether the raw output is byte-identical to the reference, and the normalised
# output's loudness and true peak as ffmpeg's EBU R128 meter reads them.
# Usage: bench/render_ratio.sh [BUILD_DIR] [SECONDS] [RUNS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
seconds=${2:-300}
runs=${3:-5}
sf2=/usr/share/sounds/sf2/FluidR3_GM.sf2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tools/make_demo_song" --seconds "$seconds" "$work/song.mid" >/dev/null
cli="$build/src/cli/dorvik-midi"
normalised="'$cli' render --soundfont '$sf2' '$work/song.mid' -o '$work/normalised.wav'"
raw="'$cli' render --raw --soundfont '$sf2' '$work/song.mid' -o '$work/raw.wav'"
theirs="fluidsynth -ni -g 0.5 -F '$work/theirs.wav' '$sf2' '$work/song.mid'"

hyperfine --warmup 1 --runs "$runs" --export-json "$work/times.json" \
    --command-name normalised "$normalised" --command-name raw "$raw" \
    --command-name fluidsynth "$theirs" >/dev/null

cmp -s "$work/raw.wav" "$work/theirs.wav" && same="byte-identical" || same="DIFFERENT"
loudness=$(ffmpeg -hide_banner -nostats -i "$work/normalised.wav" -af ebur128=peak=true -f null - 2>&1 |
    awk '/Summary/ {s = 1} s && /I:/ {i = $2} s && /Peak:/ {p = $2} END {print i " LUFS, true peak " p " dBFS"}')
python3 - "$work/times.json" "$seconds" "$same" "$loudness" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
ref = results["fluidsynth"]
print(f"song: {sys.argv[2]} s, FluidR3_GM; raw output {sys.argv[3]}; normalised output {sys.argv[4]}")
for name, key in (("dorvik-midi render", "normalised"), ("dorvik-midi render --raw", "raw"),
                  ("fluidsynth -ni (reference)", "fluidsynth")):
    r = results[key]
    print(f"{name:28s} {r['mean']:7.3f} s ± {r['stddev'] or 0:.3f}  (min {r['min']:.3f})")
for key in ("normalised", "raw"):
    r = results[key]
    print(f"ratio {key:10s} (mean): {r['mean'] / ref['mean']:.3f}   (min): {r['min'] / ref['min']:.3f}")
PY
