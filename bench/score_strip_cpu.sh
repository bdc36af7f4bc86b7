#!/usr/bin/env bash
# What the score strip costs the window: processor use on a virtual display with no GPU, as a
# share of one core, while the demo piano song plays without the strip and then with it (S), 20 s
# each, in the normal view and in the full view, beside an idle `sleep` measured the same way in
# the same run. The window is driven with xdotool; the sound goes to SDL's dummy driver, which
# plays in real time. The X server's share is printed beside the player's.
#
# Usage: bench/score_strip_cpu.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
player=${PLAYER:-$build/src/app/dorvik-midi-player}
song=examples/demo_song.mid
[ -x "$player" ] || { echo "score_strip_cpu: build $player first" >&2; exit 1; }
for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "score_strip_cpu: $tool is not installed (setup.sh)" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
server=$!
pids+=("$server")
for _ in $(seq 1 200); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY
export SDL_AUDIODRIVER=dummy XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"

# Nanoseconds on a processor of every thread of a process.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f", s }'; }
# Shares of one core of the player, the X server and a sleep over the next $1 seconds.
measure() {
    local a0 x0 s0 a1 x1 s1 t0 t1
    a0=$(cpu_ns "$app") x0=$(cpu_ns "$server") s0=$(cpu_ns "$idler") t0=$(date +%s%N)
    sleep "$1"
    a1=$(cpu_ns "$app") x1=$(cpu_ns "$server") s1=$(cpu_ns "$idler") t1=$(date +%s%N)
    awk -v a=$((a1 - a0)) -v x=$((x1 - x0)) -v s=$((s1 - s0)) -v t=$((t1 - t0)) \
        'BEGIN { printf "%.2f %.2f %.2f\n", 100 * a / t, 100 * x / t, 100 * s / t }'
}
start_player() {
    "$player" "$@" 2>"$work/player.err" &
    app=$!
    pids+=("$app")
    window=$(xdotool search --sync --onlyvisible --name "Dorvik Midi Player" | head -n1)
    xdotool windowfocus --sync "$window"
}
key() { xdotool key --clearmodifiers "$1"; }
line() { printf "%-34s player %6s %%   X server %6s %%   sleep %6s %%\n" "$1" $2 $3 $4; }

sleep 600 &
idler=$!
pids+=("$idler")

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

echo "window on Xvfb (no GPU), demo song playing, share of one core"
line "normal view, no score (20 s)" $without
line "normal view, score shown (20 s)" $with
line "full view, score shown (20 s)" $withFull
verdict() { awk -v v="$1" -v m="$2" 'BEGIN { print (v + 0 <= m ? "met" : "NOT met") }'; }
echo "target: playing with the score <= 12 %: normal $(verdict "${with%% *}" 12), full $(verdict "${withFull%% *}" 12)"
