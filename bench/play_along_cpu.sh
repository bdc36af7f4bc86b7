#!/usr/bin/env bash
# Processor use of the player's window while the player plays along on a MIDI keyboard, as a share
# of one core, on a virtual display with no GPU:
#   - the demo song playing on its own (play-along off), 20 s: the window as it always runs;
#   - the same with play-along following (Shift+Tab), the first hand silenced, and a keyboard on a
#     JACK server (dummy back end) playing about three notes a second, 20 s: the keys are read
#     every frame, sound through the live synthesiser mixed into the device at a 256-frame period,
#     light on the keyboard and are scored;
#   - the reference, measured on the same server with the same keys: `fluidsynth -a jack -m jack`
#     playing them live, with no song and no window.
# The aim is at most 15 % of a core with play-along. The sound goes to SDL's dummy driver, which
# plays in real time.
#
# Usage: bench/play_along_cpu.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
player=$build/src/app/dorvik-midi-player
song=examples/demo_song.mid
sf2=/usr/share/sounds/sf2/default-GM.sf2
py=/usr/bin/python3
[ -x "$player" ] || { echo "play_along_cpu: build $player first" >&2; exit 1; }
for tool in Xvfb xdotool jackd jack_lsp jack_connect fluidsynth; do
    command -v "$tool" >/dev/null || { echo "play_along_cpu: $tool is not installed (setup.sh)" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    exec 4>&- 2>/dev/null || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    stop_jack 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

. tests/cli/jack_server.sh
start_jack_midi cpu || { echo "play_along_cpu: $jack_failure" >&2; exit 1; }

Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
pids+=("$!")
for _ in $(seq 1 200); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY
export SDL_AUDIODRIVER=dummy XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data"
mkdir -p "$XDG_CONFIG_HOME/Dorvik Midi Player"
echo "[Soundfont] = $sf2" >"$XDG_CONFIG_HOME/Dorvik Midi Player/settings.ini"

# Nanoseconds on a processor of every thread of a process.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f", s }'; }
# The share of one core process $1 takes over the next $2 seconds.
share() {
    local c0 c1 t0 t1
    c0=$(cpu_ns "$1") t0=$(date +%s%N)
    sleep "$2"
    c1=$(cpu_ns "$1") t1=$(date +%s%N)
    awk -v c=$((c1 - c0)) -v t=$((t1 - t0)) 'BEGIN { printf "%.2f", 100 * c / t }'
}
# The keyboard: a second client of the server, told to play through fd 4.
start_keys() {
    mkfifo "$work/keys.in"
    "$py" "$root/tests/cli/midi_keys.py" --client "practice keys" --notes 600 <"$work/keys.in" >"$work/keys.out" &
    pids+=("$!")
    exec 4>"$work/keys.in"
    for _ in $(seq 1 100); do grep -q ready "$work/keys.out" 2>/dev/null && return 0; sleep 0.1; done
    echo "play_along_cpu: the keyboard did not start" >&2
    exit 1
}

start_keys
"$player" "$song" 2>"$work/player.err" &
app=$!
pids+=("$app")
window=$(xdotool search --sync --onlyvisible --name "Dorvik Midi Player" | head -n1)
xdotool windowfocus --sync "$window"
# Played once its render is complete, so that what is measured is playing alone.
size=0
for _ in $(seq 1 240); do
    sleep 1
    now=$(find "$XDG_CACHE_HOME" -name '*.wav' -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
    [ "$now" -gt 0 ] && [ "$now" -eq "$size" ] && break
    size=$now
done
xdotool key --clearmodifiers space
sleep 2
plain=$(share "$app" 20)

xdotool key --clearmodifiers 1 shift+Tab
sleep 2
echo play >&4
sleep 1
along=$(share "$app" 20)
# Killed outright: a window closed politely would offer the take for saving and wait for an answer.
kill -KILL "$app"
while kill -0 "$app" 2>/dev/null; do sleep 0.1; done

# The reference: fluidsynth playing the same keys on the same server.
fluidsynth -a jack -m jack -z 256 -c 2 -g 0.5 -o audio.jack.autoconnect=0 -o midi.autoconnect=0 -si "$sf2" \
    >"$work/fluid.log" 2>&1 </dev/null &
fluid=$!
pids+=("$fluid")
for _ in $(seq 1 100); do jack_lsp 2>/dev/null | grep -qE '^fluidsynth[^:]*:midi' && break; sleep 0.1; done
midi=$(jack_lsp 2>/dev/null | grep -E '^fluidsynth[^:]*:midi' | head -n1)
keys=$(jack_lsp 2>/dev/null | grep -E '^practice keys:' | head -n1)
[ -n "$midi" ] && [ -n "$keys" ] || { echo "play_along_cpu: fluidsynth or the keyboard is not on the server" >&2; exit 1; }
jack_connect "$keys" "$midi"
sleep 25  # the keyboard's first run of notes ends
echo play >&4
sleep 1
reference=$(share "$fluid" 20)

printf "window, the song alone:                        %6s %% of a core\n" "$plain"
printf "window, playing along with live keys:          %6s %% of a core (aim: at most 15)\n" "$along"
printf "reference, fluidsynth -a jack -m jack, keys:   %6s %% of a core\n" "$reference"
awk -v a="$along" -v p="$plain" -v r="$reference" 'BEGIN {
    printf "play-along over the song alone: %.2fx; play-along over the reference: %.2fx\n", a / p, (r > 0 ? a / r : 0) }'
