#!/usr/bin/env bash
# Parse rate of `dorvik-midi info` on a large song: one million note events (on and off) in two
# channel-0 tracks. Prints the best of five runs, the events parsed per second, and the time as a
# ratio to `md5sum` of the same file (a tool that merely reads every byte once), measured in the
# same run. Usage: bench/info_parse_rate.sh [BUILD_DIR] [EVENTS]
set -euo pipefail
build=${1:-build}
events=${2:-1000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tools/make_stress_song" --events "$events" "$work/large.mid"
bytes=$(stat -c %s "$work/large.mid")

best_of_five() {
    local best=""
    for _ in 1 2 3 4 5; do
        local t0 t1 dt
        t0=$(date +%s%N)
        "$@" >/dev/null 2>&1 || true
        t1=$(date +%s%N)
        dt=$((t1 - t0))
        if [ -z "$best" ] || [ "$dt" -lt "$best" ]; then best=$dt; fi
    done
    echo "$best"
}

info_ns=$(best_of_five "$build/src/cli/dorvik-midi" info "$work/large.mid")
json_ns=$(best_of_five "$build/src/cli/dorvik-midi" info --json "$work/large.mid")
md5_ns=$(best_of_five md5sum "$work/large.mid")

awk -v e="$events" -v b="$bytes" -v i="$info_ns" -v j="$json_ns" -v m="$md5_ns" 'BEGIN {
    printf "file: %d note events, %.1f MB\n", e, b / 1e6
    printf "dorvik-midi info:        %8.1f ms  %6.1f M events/s  ratio to md5sum %.2f\n", i / 1e6, e / (i / 1e9) / 1e6, i / m
    printf "dorvik-midi info --json: %8.1f ms  ratio to md5sum %.2f\n", j / 1e6, j / m
    printf "md5sum (reference):      %8.1f ms\n", m / 1e6
}'
