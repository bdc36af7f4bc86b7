#!/usr/bin/env bash
# Peak memory (resident set, VmHWM) of the player's window on a virtual display, in two phases:
#   render  start-up, the SoundFont loaded and the song rendered (the SoundFont's samples are in
#           memory only during this phase, as they are for `fluidsynth -ni` rendering the song);
#   play    from the end of the render (the peak counter is reset there through clear_refs), the
#           song playing for 20 s in the normal view and 10 s in the full view.
# Printed beside `fluidsynth -ni -F` rendering the same song with the same SoundFont, measured in
# the same run, and the play phase beside the 150 MB aim.
#
# Usage: bench/window_memory.sh [BUILD_DIR] [SONG_SECONDS] [SF2]
#   BUILD_DIR     default: build
#   SONG_SECONDS  empty or 0: the bundled demo song; otherwise a two-hand piece of that length
#                 made by the demo-song tool (1800 for the 30-minute song of the render bench)
#   SF2           default: the system's General MIDI SoundFont, as the player picks it
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-0}
sf2=${3:-/usr/share/sounds/sf2/default-GM.sf2}
player=$build/src/app/dorvik-midi-player
[ -x "$player" ] || { echo "window_memory: build $player first" >&2; exit 1; }
for tool in Xvfb xdotool fluidsynth /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "window_memory: $tool is not installed (setup.sh)" >&2; exit 1; }
done
[ -r "$sf2" ] || { echo "window_memory: no SoundFont at $sf2" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

song=examples/demo_song.mid
if [ "$seconds" != 0 ]; then
    song=$work/song.mid
    "$build/tools/make_demo_song" --seconds "$seconds" "$song"
fi

Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
pids+=("$!")
for _ in $(seq 1 200); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY
export SDL_AUDIODRIVER=dummy XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME/Dorvik Midi Player"
echo "[Soundfont] = $sf2" >"$XDG_CONFIG_HOME/Dorvik Midi Player/settings.ini"

"$player" "$song" 2>"$work/player.err" &
app=$!
pids+=("$app")
window=$(xdotool search --sync --onlyvisible --name "Dorvik Midi Player" | head -n1)
xdotool windowfocus --sync "$window"
# The song is rendered before it can play: wait until the rendered file stops growing.
size=0
for _ in $(seq 1 600); do
    sleep 1
    now=$(find "$XDG_CONFIG_HOME" -name '*.wav' -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
    [ "$now" -gt 0 ] && [ "$now" -eq "$size" ] && break
    size=$now
done
sleep 1
kill -0 "$app" 2>/dev/null || { echo "window_memory: the player ended early:" >&2; cat "$work/player.err" >&2; exit 1; }
rendering=$(awk '/^VmHWM:/ { print $2 }' /proc/"$app"/status)
after=$(awk '/^VmRSS:/ { print $2 }' /proc/"$app"/status)
# From here the peak counter starts again at the present resident set.
echo 5 >/proc/"$app"/clear_refs
xdotool key --clearmodifiers space
sleep 20
xdotool key --clearmodifiers Escape
sleep 10
kill -0 "$app" 2>/dev/null || { echo "window_memory: the player ended early:" >&2; cat "$work/player.err" >&2; exit 1; }
playing=$(awk '/^VmHWM:/ { print $2 }' /proc/"$app"/status)
kill "$app"
wait "$app" 2>/dev/null || true

theirs=$(/usr/bin/time -f %M fluidsynth -ni -g 0.5 -F "$work/theirs.wav" "$sf2" "$song" 2>&1 >/dev/null | tail -n 1)

mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
row() { printf '%-44s %8d KB  (%6s MB)\n' "$1" "$2" "$(mb "$2")"; }
echo "window on Xvfb, $(basename "$song") rendered, then playing 30 s; $(basename "$(readlink -f "$sf2")")"
row "player, render phase peak (start-up+render)" "$rendering"
row "player, resident once the render is over" "$after"
row "player, play phase peak" "$playing"
row "fluidsynth -ni -F, peak (reference)" "$theirs"
awk -v r="$rendering" -v p="$playing" -v b="$theirs" 'BEGIN {
    printf "render phase to fluidsynth: %.2f\n", r / b
    printf "play phase to the 150 MB aim: %.2f (%s)\n", p / (150 * 1024), p < 150 * 1024 ? "met" : "NOT met" }'
