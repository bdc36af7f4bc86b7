#!/usr/bin/env bash
# Reading rate of `dorvik-midi info` on a song far denser than anyone plays, generated here: one
# note a tick on 16 tracks (or TRACKS, sharing the channels as the densest songs' hundreds of
# tracks do), 20,000,000 notes by default. Prints the best of a few runs of `info` on
# it and on a one-note song (the start of the process), the notes read a second, the processor
# time and peak memory of the best of three runs with the bytes each note took (and the peak
# against its target of twelve bytes a note and 64 MB), and the time as
# ratios to `cat` and `md5sum` of the same file (tools that merely read every byte once), measured
# in the same run; then the time and peak memory of `info --json` on it, whose text is hundreds of
# megabytes.
#
# With a second build folder, that build's `dorvik-midi` (an earlier version, say) is measured in
# the same run on the same file, the two builds taking turns run by run so that both meet the same
# load, and the ratios of the reading and processor times are printed with both peaks.
# Usage: bench/info_dense_rate.sh [BUILD_DIR] [NOTES] [REFERENCE_BUILD_DIR] [TRACKS]
set -euo pipefail
build=${1:-build}
notes=${2:-20000000}
reference=${3:-}
tracks=${4:-16}
runs=10
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tools/make_dense_song" --notes "$notes" --seconds $((notes / 100000 + 1)) --tracks "$tracks" "$work/dense.mid"
"$build/tools/make_dense_song" --notes 1 --seconds 1 "$work/tiny.mid"
bytes=$(stat -c %s "$work/dense.mid")

. "$(dirname "$0")/best_time.sh"

# "large tiny" for each build given, best of the runs: the builds take turns, and within a turn the
# two songs, so that all meet the same load.
measure() {
    local -A best_large=() best_tiny=()
    local b dt
    for _ in $(seq "$runs"); do
        for b in "$@"; do
            dt=$(time_one "$b/src/cli/dorvik-midi" info "$work/tiny.mid")
            if [ -z "${best_tiny[$b]:-}" ] || [ "$dt" -lt "${best_tiny[$b]}" ]; then best_tiny[$b]=$dt; fi
            dt=$(time_one "$b/src/cli/dorvik-midi" info "$work/dense.mid")
            if [ -z "${best_large[$b]:-}" ] || [ "$dt" -lt "${best_large[$b]}" ]; then best_large[$b]=$dt; fi
        done
    done
    for b in "$@"; do echo "${best_large[$b]} ${best_tiny[$b]}"; done
}

# "seconds kilobytes" for each build given, from the best of three runs of `info` (with OPTION, if
# not empty), the builds taking turns: the processor time and peak memory, or with OPTION --json the
# elapsed time (the text is written, then thrown away) and peak memory.
best_of_three() {
    local option=$1 k format='%U %S %M'
    shift
    [ -z "$option" ] || format='%e 0 %M'
    local -a given=("$@")
    for _ in 1 2 3; do
        for k in "${!given[@]}"; do
            echo "$k $(/usr/bin/time -f "$format" "${given[$k]}/src/cli/dorvik-midi" info ${option:+"$option"} "$work/dense.mid" 2>&1 >/dev/null | tail -n 1)"
        done
    done | awk -v n="$#" '{c = $2 + $3; if (!($1 in best) || c < best[$1]) { best[$1] = c; kb[$1] = $4 } }
        END { for (k = 0; k < n; k++) print best[k], kb[k] }'
}

builds=("$build")
if [ -n "$reference" ]; then builds+=("$reference"); fi
{ read -r info_ns start_ns; read -r ref_ns ref_start_ns || true; } < <(measure "${builds[@]}")
{ read -r cpu_s peak_kb; read -r ref_cpu_s ref_peak_kb || true; } < <(best_of_three "" "${builds[@]}")
{ read -r json_s json_kb; read -r ref_json_s ref_json_kb || true; } < <(best_of_three --json "${builds[@]}")
json_bytes=$("$build/src/cli/dorvik-midi" info --json "$work/dense.mid" | wc -c)
cat_ns=$(best_of_runs cat "$work/dense.mid")
md5_ns=$(best_of_runs md5sum "$work/dense.mid")
awk -v n="$notes" -v b="$bytes" -v i="$info_ns" -v s="$start_ns" -v c="$cat_ns" -v m="$md5_ns" \
    -v cpu="$cpu_s" -v kb="$peak_kb" -v r="${ref_ns:-0}" -v rs="${ref_start_ns:-0}" -v ref="$reference" \
    -v rcpu="${ref_cpu_s:-0}" -v rkb="${ref_peak_kb:-0}" -v t="$tracks" -v js="$json_s" -v jkb="$json_kb" \
    -v jb="$json_bytes" -v rjs="${ref_json_s:-0}" -v rjkb="${ref_json_kb:-0}" 'BEGIN {
    p = i - s
    printf "file: %d notes on %d tracks, %.1f MB\n", n, t, b / 1e6
    printf "dorvik-midi info:   %8.1f ms  ratio to cat %.2f, to md5sum %.2f\n", i / 1e6, i / c, i / m
    printf "  of which reading: %8.1f ms  %6.1f M notes/s  (process start %.1f ms)\n", p / 1e6, n / (p / 1e9) / 1e6, s / 1e6
    printf "  best run: %.2f s of processor, %6.1f M notes/s of processor; peak %.0f MB, %.1f bytes a note\n", cpu, n / cpu / 1e6, kb / 1024, kb * 1024 / n
    # The aim: every note kept in twelve bytes, the rest (program, windows on the file) in 64 MB.
    target = (12 * n + 64 * 1048576) / 1024
    printf "  peak memory %.0f MB against a target of at most %.0f MB (12 bytes a note + 64 MB): %s\n", kb / 1024, target / 1024, kb <= target ? "met" : "NOT met"
    # The JSON text is written as it is made, never held whole: its peak has the same target.
    printf "dorvik-midi info --json: %.2f s for %.0f MB of text (%.0f MB/s); peak %.0f MB: %s\n", js, jb / 1e6, jb / 1e6 / (js > 0 ? js : 1), jkb / 1024, jkb <= target ? "met" : "NOT met"
    printf "cat (reference):    %8.1f ms\n", c / 1e6
    printf "md5sum (reference): %8.1f ms\n", m / 1e6
    if (ref != "") {
        rp = r - rs
        printf "reference %s info: %8.1f ms, reading %.1f ms, %.1f M notes/s\n", ref, r / 1e6, rp / 1e6, n / (rp / 1e9) / 1e6
        printf "  best run: %.2f s of processor, %6.1f M notes/s of processor; peak %.0f MB, %.1f bytes a note\n", rcpu, n / rcpu / 1e6, rkb / 1024, rkb * 1024 / n
        printf "reading time, this build to reference: %.2f; processor time: %.2f\n", p / rp, (rcpu > 0 ? cpu / rcpu : 1)
        printf "reference info --json: %.2f s, peak %.0f MB; time, this build to reference: %.2f\n", rjs, rjkb / 1024, (rjs > 0 ? js / rjs : 1)
    }
}'
