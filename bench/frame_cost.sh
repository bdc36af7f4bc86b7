#!/usr/bin/env bash
# Cost of one full frame of the notes view and the time bar at 1536 x 832 on the software
# renderer, for a dense song of 20,000 notes per part, as a ratio to a frame that only clears and
# is finished (the off-screen target's present), measured in the same run.
# Usage: bench/frame_cost.sh [BUILD_DIR] [FRAMES]   (BUILD_DIR relative to the source folder)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
frames=${2:-600}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 80,000 note events: 20,000 notes in each of the two hands.
"$build/tools/make_stress_song" --events 80000 "$work/dense.mid"
"$build/tests/view/view_frames" cost --frames "$frames" "$work/dense.mid"

# The same frames drawn and presented by the window's target on a virtual display with no GPU,
# against a frame that only clears (in a new colour each time, so that it is presented whole):
# the demo song, then the dense one.
if command -v Xvfb >/dev/null 2>&1; then
    for song in examples/demo_song.mid "$work/dense.mid"; do
        echo "window, $(basename "$song"):"
        tests/platform/run_under_xvfb.sh "$build/tests/view/view_frames" cost --window --frames "$frames" "$song"
    done
else
    echo "window frames: skipped (Xvfb is not installed)"
fi
