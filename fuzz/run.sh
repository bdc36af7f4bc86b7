#!/usr/bin/env bash
# Runs every fuzz target for the given number of seconds, starting from the seeds in fuzz/seeds
# and the bundled songs. Usage: fuzz/run.sh BUILD_DIR SECONDS
# Findings are written to fuzz/findings/; a crash makes the script fail.
set -euo pipefail
build=${1:?build folder}
seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$here/findings"

run() {
    local target=$1; shift
    local work log status=0
    work=$(mktemp -d)
    log=$(mktemp)
    echo "-- $target, ${seconds}s"
    # An input counts as hanging after 30 s: the slowest seed (a render through the synthesiser,
    # about a second of wall time on an idle machine) must not be taken for a hang when the
    # machine is busy.
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$here/findings/$target-" "$work" "$@" >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$log"
    else
        grep -E 'stat::number_of_executed_units|Done' "$log" || true
    fi
    rm -rf "$work" "$log"
    return "$status"
}

run fuzz_midi "$here/seeds/midi" "$here/../examples"
run fuzz_settings "$here/seeds/settings"
run fuzz_overview "$here/seeds/overview"
run fuzz_render "$here/seeds/midi" -max_len=4096
run fuzz_wav "$here/seeds/wav"
run fuzz_export_ogg "$here/seeds/wav"
run fuzz_export_flac "$here/seeds/wav"
run fuzz_picture "$here/seeds/picture"
run fuzz_notation "$here/seeds/midi" "$here/../examples" -max_len=8192
