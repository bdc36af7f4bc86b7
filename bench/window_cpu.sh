#!/usr/bin/env bash
# Processor use of the player's window on a virtual display with no GPU, as a share of one core,
# beside an idle `sleep` measured the same way in the same run:
#   - idle (no song), 10 s;
#   - the demo song playing in the normal view, 20 s, and in the full view, 20 s;
#   - the first second after a pause, and the seconds after that.
# The window is driven with xdotool (Space plays and pauses, Escape switches the view). The sound
# goes to SDL's dummy driver, which plays in real time. The X server's share is printed beside
# the player's: uploading a frame costs there too.
#
# Usage: bench/window_cpu.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
player=${PLAYER:-$build/src/app/dorvik-midi-player}
song=examples/demo_song.mid
[ -x "$player" ] || { echo "window_cpu: build $player first" >&2; exit 1; }
for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "window_cpu: $tool is not installed (setup.sh)" >&2; exit 1; }
done

. bench/window_session.sh

start_player
sleep 2
idle=$(measure 10)
kill "$app"
wait "$app" 2>/dev/null || true

start_player "$song"
wait_for_render || true
sleep 1
key space
sleep 1
normal=$(measure 20)
key Escape
sleep 1
full=$(measure 20)
key Escape
sleep 1
key space
afterPause=$(measure 1)
laterPause=$(measure 5)
kill "$app"
wait "$app" 2>/dev/null || true

echo "window on Xvfb (no GPU), demo song, share of one core"
line "idle, no song (10 s)" $idle
line "playing, normal view (20 s)" $normal
line "playing, full view (20 s)" $full
line "first second after a pause" $afterPause
line "the 5 s after that" $laterPause
verdict() { awk -v v="$1" -v m="$2" 'BEGIN { print (v + 0 <= m ? "met" : "NOT met") }'; }
echo "targets: playing <= 12 %: normal $(verdict "${normal%% *}" 12), full $(verdict "${full%% *}" 12);" \
    "after a pause < 5 %: $(verdict "${afterPause%% *}" 4.999); idle < 1 %: $(verdict "${idle%% *}" 0.999)"
