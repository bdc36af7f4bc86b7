#!/usr/bin/env bash
# Reading rate of `dorvik-midi info` on a song far denser than anyone plays, generated here: one
# note a tick on 16 tracks, 20,000,000 notes by default. Prints the best of a few runs of `info` on
# it and on a one-note song (the start of the process), the notes read a second, the processor
# time and peak memory of the best of three runs with the bytes each note took (and the peak
# against its target of twelve bytes a note and 64 MB), and the time as
# ratios to `cat` and `md5sum` of the same file (tools that merely read every byte once), measured
# in the same run.
#
# With a second build folder, that build's `dorvik-midi` (an earlier version, say) is measured in
# the same run on the same file, and the ratio of the reading times is printed.
# Usage: bench/info_dense_rate.sh [BUILD_DIR] [NOTES] [REFERENCE_BUILD_DIR]
set -euo pipefail
build=${1:-build}
notes=${2:-20000000}
reference=${3:-}
runs=7
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tools/make_dense_song" --notes "$notes" --seconds $((notes / 100000 + 1)) "$work/dense.mid"
"$build/tools/make_dense_song" --notes 1 --seconds 1 "$work/tiny.mid"
bytes=$(stat -c %s "$work/dense.mid")

. "$(dirname "$0")/best_time.sh"

# "large tiny" for one build, the two songs taking turns so that both meet the same load.
measure() {
    local tool=$1/src/cli/dorvik-midi best_large="" best_tiny="" dt
    for _ in $(seq "$runs"); do
        dt=$(time_one "$tool" info "$work/tiny.mid")
        if [ -z "$best_tiny" ] || [ "$dt" -lt "$best_tiny" ]; then best_tiny=$dt; fi
        dt=$(time_one "$tool" info "$work/dense.mid")
        if [ -z "$best_large" ] || [ "$dt" -lt "$best_large" ]; then best_large=$dt; fi
    done
    echo "$best_large $best_tiny"
}

read -r info_ns start_ns < <(measure "$build")
# The processor time and peak memory of the best of three runs.
read -r cpu_s peak_kb < <(for _ in 1 2 3; do
    /usr/bin/time -f '%U %S %M' "$build/src/cli/dorvik-midi" info "$work/dense.mid" 2>&1 >/dev/null | tail -n 1
done | awk '{c = $1 + $2; if (NR == 1 || c < best) { best = c; kb = $3 } } END { print best, kb }')
cat_ns=$(best_of_runs cat "$work/dense.mid")
md5_ns=$(best_of_runs md5sum "$work/dense.mid")
ref_ns=0
ref_start_ns=0
if [ -n "$reference" ]; then read -r ref_ns ref_start_ns < <(measure "$reference"); fi

awk -v n="$notes" -v b="$bytes" -v i="$info_ns" -v s="$start_ns" -v c="$cat_ns" -v m="$md5_ns" \
    -v cpu="$cpu_s" -v kb="$peak_kb" -v r="$ref_ns" -v rs="$ref_start_ns" -v ref="$reference" 'BEGIN {
    p = i - s
    printf "file: %d notes, %.1f MB\n", n, b / 1e6
    printf "dorvik-midi info:   %8.1f ms  ratio to cat %.2f, to md5sum %.2f\n", i / 1e6, i / c, i / m
    printf "  of which reading: %8.1f ms  %6.1f M notes/s  (process start %.1f ms)\n", p / 1e6, n / (p / 1e9) / 1e6, s / 1e6
    printf "  best run: %.2f s of processor, %6.1f M notes/s of processor; peak %.0f MB, %.1f bytes a note\n", cpu, n / cpu / 1e6, kb / 1024, kb * 1024 / n
    # The aim: every note kept in twelve bytes, the rest (program, windows on the file) in 64 MB.
    target = (12 * n + 64 * 1048576) / 1024
    printf "  peak memory %.0f MB against a target of at most %.0f MB (12 bytes a note + 64 MB): %s\n", kb / 1024, target / 1024, kb <= target ? "met" : "NOT met"
    printf "cat (reference):    %8.1f ms\n", c / 1e6
    printf "md5sum (reference): %8.1f ms\n", m / 1e6
    if (ref != "") {
        rp = r - rs
        printf "reference %s info: %8.1f ms, reading %.1f ms, %.1f M notes/s\n", ref, r / 1e6, rp / 1e6, n / (rp / 1e9) / 1e6
        printf "reading time, this build to reference: %.2f\n", p / rp
    }
}'
