#!/usr/bin/env bash
# What the score strip costs the window: processor use on a virtual display with no GPU, as a
# share of one core, while the demo piano song plays without the strip and then with it (S), 20 s
# each, in the normal view and in the full view, beside an idle `sleep` measured the same way in
# the same run. The window is driven with xdotool; the sound goes to SDL's dummy driver, which
# plays in real time. The X server's share is printed beside the player's.
#
# Usage: [BASELINE=OTHER_PLAYER] bench/score_strip_cpu.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
player=${PLAYER:-$build/src/app/dorvik-midi-player}
song=examples/demo_song.mid
[ -x "$player" ] || { echo "score_strip_cpu: build $player first" >&2; exit 1; }
for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "score_strip_cpu: $tool is not installed (setup.sh)" >&2; exit 1; }
done

. bench/window_session.sh

# One build's figures: playing without the strip, then with it (S), then in the full view.
runs=0
measure_player() {
    player=$1
    # Settings of its own: the strip and the full view are remembered, and each run starts without.
    runs=$((runs + 1))
    export XDG_CONFIG_HOME="$work/config-$runs"
    start_player "$song"
    # Measured once the render has stopped growing: playing alone, as the window mostly does.
    size=0
    for _ in $(seq 1 240); do
        sleep 1
        now=$({ find "$XDG_CACHE_HOME" -name '*.wav' -printf '%s\n' 2>/dev/null || true; } | awk '{ s += $1 } END { print s + 0 }')
        [ "$now" -gt 0 ] && [ "$now" -eq "$size" ] && break
        size=$now
    done
    sleep 1
    key space
    sleep 1
    without=$(measure 20)
    key s
    sleep 1
    with=$(measure 20)
    key Escape
    sleep 1
    withFull=$(measure 20)
    kill "$app"
    wait "$app" 2>/dev/null || true
}

verdict() { awk -v v="$1" -v m="$2" 'BEGIN { print (v + 0 <= m ? "met" : "NOT met") }'; }
echo "window on Xvfb (no GPU), demo song playing, share of one core"
# A baseline build (BASELINE=path/to/dorvik-midi-player) is measured first in the same session,
# beside the one under test, so that a change's effect is read on one machine's load.
if [ -n "${BASELINE:-}" ]; then
    [ -x "$BASELINE" ] || { echo "score_strip_cpu: $BASELINE is not a program" >&2; exit 1; }
    under_test=$player
    measure_player "$BASELINE"
    line "baseline, normal view, no score" $without
    line "baseline, normal view, score" $with
    line "baseline, full view, score" $withFull
    player=$under_test
fi
measure_player "$player"
line "normal view, no score (20 s)" $without
line "normal view, score shown (20 s)" $with
line "full view, score shown (20 s)" $withFull
echo "target: playing with the score <= 12 %: normal $(verdict "${with%% *}" 12), full $(verdict "${withFull%% *}" 12)"
