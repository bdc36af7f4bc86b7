#!/usr/bin/env bash
# Cost of one full frame of the notes view and the time bar at 1536 x 832 on the software
# renderer, for a dense song of 20,000 notes per part, as a ratio to a frame that only clears and
# is finished (the off-screen target's present), measured in the same run.
# Usage: bench/frame_cost.sh [BUILD_DIR] [FRAMES]
set -euo pipefail
build=${1:-build}
frames=${2:-600}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 80,000 note events: 20,000 notes in each of the two hands.
"$build/tools/make_stress_song" --events 80000 "$work/dense.mid"
"$build/tests/view/view_frames" cost --frames "$frames" "$work/dense.mid"
