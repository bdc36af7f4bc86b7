#!/usr/bin/env bash
# Peak memory (resident set) and time of `dorvik-midi render` against FluidSynth's own command line
# on dense songs made here at run time (one note a tick on many tracks), in the same run: by
# default a song of 2 million notes at 30,000 notes a second, and of each count given after the
# SoundFont. Songs of 4 MB of MIDI data or more are played by the render's own sequencer; the aim is
# a peak at most the command's, which copies every event of the file. Prints both peaks, both times
# and their ratios.
#
# Then the render's pace on one processor (pinned to it, as the window's render-ahead has one):
# processor seconds (user and system) of `dorvik-midi render --raw`, the synthesis alone, per
# second of the song; below 1 it keeps ahead of real time. With OLD_BUILD set to another build
# folder, the same for that build's program in the same run, and the ratio of the two.
#
# Environment: RATE notes a second (default 30000; 111000 is the densest songs' pace, a note a tick
# on 32 tracks), TRACKS (default 16), OLD_BUILD (a build to compare with).
# Usage: bench/render_dense.sh [BUILD_DIR] [SF2] [NOTES...]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
sf2=${2:-/usr/share/sounds/sf2/TimGM6mb.sf2}
shift $(($# > 2 ? 2 : $#))
counts=("${@:-2000000}")
rate=${RATE:-30000}
tracks=${TRACKS:-16}
old=${OLD_BUILD:+$(cd "$OLD_BUILD" && pwd)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -x "$build/tools/make_dense_song" ] || { echo "render_dense: build make_dense_song first" >&2; exit 1; }

# Peak resident kilobytes and wall seconds of a command, its output thrown away.
measure() { /usr/bin/time -f '%M %e' "$@" 2>&1 >/dev/null | tail -n 1; }
# Processor seconds of a command on the first processor alone, its output thrown away.
cpu_one() { /usr/bin/time -f '%U %S' taskset -c 0 "$@" 2>&1 >/dev/null | tail -n 1 | awk '{ print $1 + $2 }'; }

for notes in "${counts[@]}"; do
    seconds=$(((notes + rate - 1) / rate))
    song="$work/dense-$notes.mid"
    "$build/tools/make_dense_song" --notes "$notes" --seconds "$seconds" --tracks "$tracks" "$song"
    read -r ours_kb ours_s < <(measure "$build/src/cli/dorvik-midi" render --soundfont "$sf2" "$song" -o "$work/ours.wav")
    rm -f "$work/ours.wav"
    read -r theirs_kb theirs_s < <(measure fluidsynth -ni -g 0.5 -F "$work/theirs.wav" "$sf2" "$song")
    rm -f "$work/theirs.wav"
    echo "song: $notes notes over $seconds s on $tracks tracks, $(stat -c %s "$song") bytes of MIDI, $(basename "$sf2")"
    printf '%-28s %9d KB %8.1f s\n' "dorvik-midi render" "$ours_kb" "$ours_s" \
        "fluidsynth -F (reference)" "$theirs_kb" "$theirs_s"
    awk -v a="$ours_kb" -v b="$theirs_kb" -v c="$ours_s" -v d="$theirs_s" \
        'BEGIN { printf "peak ratio: %.2f (aim: at most 1)   time ratio: %.2f\n", a / b, c / d }'

    new_cpu=$(cpu_one "$build/src/cli/dorvik-midi" render --raw --soundfont "$sf2" "$song" -o "$work/pace.wav")
    printf '%-28s %8.1f s of processor, %5.2f s a second of song (aim: below 1)\n' \
        "render --raw, one processor" "$new_cpu" "$(awk -v c="$new_cpu" -v s="$seconds" 'BEGIN { print c / s }')"
    if [ -n "$old" ]; then
        old_cpu=$(cpu_one "$old/src/cli/dorvik-midi" render --raw --soundfont "$sf2" "$song" -o "$work/pace.wav")
        printf '%-28s %8.1f s of processor, %5.2f s a second of song\n' \
            "  the same, OLD_BUILD" "$old_cpu" "$(awk -v c="$old_cpu" -v s="$seconds" 'BEGIN { print c / s }')"
        awk -v a="$new_cpu" -v b="$old_cpu" 'BEGIN { printf "pace ratio (this build / OLD_BUILD): %.2f\n", a / b }'
    fi
    rm -f "$song" "$work/pace.wav"
done
