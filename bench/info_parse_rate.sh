#!/usr/bin/env bash
# Parse rate of `dorvik-midi info` on a large song: one million note events (on and off) in two
# channel-0 tracks. Prints the best of 31 runs, the events parsed per second, and the time as
# a ratio to `md5sum` of the same file (a tool that merely reads every byte once), measured in the
# same run. The parse time proper is the run on the large song less a run on a two-event song:
# what is left is reading and parsing, without the start of the process.
#
# With a second build folder, that build's `dorvik-midi` (an earlier version, say) is measured in
# the same run on the same file, and two ratios are printed: of the whole `info` runs, which is
# what a user waits for, and of the parse times alone.
# Usage: bench/info_parse_rate.sh [BUILD_DIR] [EVENTS] [REFERENCE_BUILD_DIR]
set -euo pipefail
build=${1:-build}
events=${2:-1000000}
reference=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tools/make_stress_song" --events "$events" "$work/large.mid"
"$build/tools/make_stress_song" --events 2 "$work/tiny.mid"
bytes=$(stat -c %s "$work/large.mid")

. "$(dirname "$0")/best_time.sh"

# Prints "whole start" for one build: the best `info` on the large song and on the tiny one. The
# two alternate, so that both meet the same load from anything else on the machine.
measure() {
    local tool=$1/src/cli/dorvik-midi best_large="" best_tiny="" dt
    for _ in $(seq 31); do
        dt=$(time_one "$tool" info "$work/tiny.mid")
        if [ -z "$best_tiny" ] || [ "$dt" -lt "$best_tiny" ]; then best_tiny=$dt; fi
        dt=$(time_one "$tool" info "$work/large.mid")
        if [ -z "$best_large" ] || [ "$dt" -lt "$best_large" ]; then best_large=$dt; fi
    done
    echo "$best_large $best_tiny"
}

read -r info_ns start_ns < <(measure "$build")
json_ns=$(best_of_runs "$build/src/cli/dorvik-midi" info --json "$work/large.mid")
md5_ns=$(best_of_runs md5sum "$work/large.mid")
ref_ns=0
ref_start_ns=0
if [ -n "$reference" ]; then read -r ref_ns ref_start_ns < <(measure "$reference"); fi

awk -v e="$events" -v b="$bytes" -v i="$info_ns" -v s="$start_ns" -v j="$json_ns" -v m="$md5_ns" \
    -v r="$ref_ns" -v rs="$ref_start_ns" -v ref="$reference" 'BEGIN {
    p = i - s
    printf "file: %d note events, %.1f MB\n", e, b / 1e6
    printf "dorvik-midi info:        %8.1f ms  ratio to md5sum %.2f\n", i / 1e6, i / m
    printf "  of which parsing:      %8.1f ms  %6.1f M events/s  (process start %.1f ms)\n", p / 1e6, e / (p / 1e9) / 1e6, s / 1e6
    printf "dorvik-midi info --json: %8.1f ms  ratio to md5sum %.2f\n", j / 1e6, j / m
    printf "md5sum (reference):      %8.1f ms\n", m / 1e6
    if (ref != "") {
        rp = r - rs
        printf "reference %s info: %8.1f ms, parsing %.1f ms (process start %.1f ms)\n", ref, r / 1e6, rp / 1e6, rs / 1e6
        printf "whole info run, this build to reference: %.2f\n", i / r
        printf "parsing time, this build to reference:   %.2f\n", p / rp
    }
}'
