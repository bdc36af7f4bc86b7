#!/usr/bin/env bash
# Throughput of `dorvik-midi batch render --jobs 2` over 100 songs of real length against the same
# renders one after another (`dorvik-midi render` per file, in a shell loop, as people wrote them),
# with GNU parallel running those same commands two at a time as a second reference: the batch
# should keep up with it. All three run in the same run on the same songs, in turns of ten songs,
# with the FluidR3 General MIDI SoundFont. Prints each time, the batch's speed-up over the loop (at least 1.8 on two cores
# is the aim) and its ratio to GNU parallel, and checks that all three wrote the same files.
# The songs: the first 100 MIDI files of SONGS_DIR when one is given; otherwise the demo piece
# re-timed to lengths from 90 to 288 seconds (a typical song's length), 100 of them.
# Usage: bench/batch_ratio.sh [BUILD_DIR] [SONGS_DIR] [JOBS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
songs_dir=${2:-}
jobs=${3:-2}
sf2=/usr/share/sounds/sf2/FluidR3_GM.sf2
cli="$build/src/cli/dorvik-midi"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/songs"
if [ -n "$songs_dir" ]; then
    mapfile -d '' found < <(find "$songs_dir" -type f \( -iname '*.mid' -o -iname '*.midi' \) -print0 | sort -z | head -z -n 100)
    # Numbered, so that songs of one name in two folders stay two songs.
    i=0
    for f in "${found[@]}"; do
        i=$((i + 1))
        cp "$f" "$work/songs/$(printf '%03d' $i)-$(basename "$f")"
    done
else
    for i in $(seq 1 100); do
        "$build/tools/make_demo_song" --seconds $((90 + (i * 37) % 199)) "$work/songs/song$(printf '%03d' "$i").mid" >/dev/null
    done
fi
count=$(find "$work/songs" -type f | wc -l)

# A first render of one song brings the SoundFont and the program into the page cache for all three.
first=$(find "$work/songs" -type f | sort | head -n1)
"$cli" render --soundfont "$sf2" "$first" -o "$work/warm.wav" >/dev/null

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN {printf "%.3f", b - a}'; }
add() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a + b}'; }
# The processor time (user and system) of every child this shell has waited for, in seconds: on a
# machine shared with other work it shows whether a way does more work, which its time cannot.
# `times` runs in this shell itself: in a subshell it would count that subshell's children only.
cpu() {
    times >"$work/times"
    cpu_now=$(tail -n1 "$work/times" | awk '{ split($1, u, /[ms]/); split($2, s, /[ms]/); printf "%.3f", u[1] * 60 + u[2] + s[1] * 60 + s[2] }')
}

# The songs go in ten rounds of ten, and each round times all three ways on its songs, in turn: on a
# shared machine whose load comes and goes, each way then meets the same share of it.
mkdir -p "$work/loop" "$work/parallel" "$work/batch" "$work/rounds"
mapfile -t all < <(find "$work/songs" -type f | sort)
loop=0 parallel_time=0 batch=0
declare -A cpu_used=([loop]=0 [parallel]=0 [batch]=0)
for round in $(seq 0 9); do
    dir="$work/rounds/$round"
    mkdir -p "$dir"
    for f in "${all[@]:$((round * 10)):10}"; do ln -s "$f" "$dir/$(basename "$f")"; done
    [ -n "$(ls -A "$dir")" ] || continue
    for way in loop parallel batch; do
        start=$(now)
        cpu
        cpu_start=$cpu_now
        case $way in
        loop)
            for f in "$dir"/*; do
                name=$(basename "$f")
                "$cli" render --soundfont "$sf2" "$f" -o "$work/loop/${name%.*}.wav" >/dev/null 2>&1 || true
            done
            loop=$(add "$loop" "$(since "$start")")
            ;;
        parallel)
            find "$dir" -mindepth 1 -print0 | parallel --will-cite -0 -j "$jobs" \
                "'$cli' render --soundfont '$sf2' {} -o '$work/parallel/{/.}.wav' >/dev/null 2>&1" || true
            parallel_time=$(add "$parallel_time" "$(since "$start")")
            ;;
        batch)
            "$cli" batch render --soundfont "$sf2" --jobs "$jobs" -o "$work/batch" "$dir" >>"$work/report.jsonl" \
                2>/dev/null || true
            batch=$(add "$batch" "$(since "$start")")
            ;;
        esac
        cpu
        cpu_used[$way]=$(add "${cpu_used[$way]}" "$(awk -v a="$cpu_start" -v b="$cpu_now" 'BEGIN {print b - a}')")
    done
done

done_count=$(grep -c '"status": "done"' "$work/report.jsonl" || true)
same="same files"
for f in "$work/loop"/*.wav; do
    cmp -s "$f" "$work/batch/$(basename "$f")" || same="DIFFERENT from the loop's ($(basename "$f"))"
done
echo "machine load average before and after: $load_before / $(cut -d' ' -f1-3 /proc/loadavg)"
echo "songs: $count ($done_count rendered by the batch), FluidR3_GM, $jobs jobs, $(nproc) cores; batch output: $same"
printf '%-44s %8.2f s  (processor time %8.2f s)\n' \
    "dorvik-midi render, one after another" "$loop" "${cpu_used[loop]}" \
    "GNU parallel -j $jobs of the same renders" "$parallel_time" "${cpu_used[parallel]}" \
    "dorvik-midi batch render --jobs $jobs" "$batch" "${cpu_used[batch]}"
awk -v l="$loop" -v b="$batch" -v p="$parallel_time" 'BEGIN {
    printf "speed-up of batch over the loop: %.3f\nbatch time / GNU parallel time:  %.3f\n", l / b, b / p }'
