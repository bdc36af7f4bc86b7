# Sourced by the window benchmarks: a virtual display with no GPU of the run's own, the player's
# settings and cache in a fresh folder, and the helpers that start the player, press its keys and
# measure processor shares of the player, the X server and an idle `sleep` side by side.
# Needs $player set; defines $work, $server, $idler, $app and $window, start_player,
# wait_for_render, key, measure and line, and cleans up on exit.
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

# Nanoseconds on a processor of a process, its ended threads included (a render thread that ends
# while a measure runs must not take its time away with it): user and system clock ticks.
hz=$(getconf CLK_TCK)
cpu_ns() {
    sed 's/.*) //' /proc/"$1"/stat 2>/dev/null |
        awk -v hz="$hz" '{ printf "%.0f", ($12 + $13) * 1e9 / hz }'
}
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
# The song plays while it renders; waits (at most $1 seconds, 240 by default) until the rendered
# file has grown past its header and stopped for 3 s (a render on a busy machine may stall for a
# second), so that what is measured next is playing alone.
wait_for_render() {
    local size=0 now still=0
    for _ in $(seq 1 "${1:-240}"); do
        sleep 1
        now=$(find "$XDG_CACHE_HOME" -name '*.wav' -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
        if [ "$now" -gt 44 ] && [ "$now" -eq "$size" ]; then  # more than a header
            still=$((still + 1))
            [ "$still" -ge 3 ] && return 0
        else
            still=0
        fi
        size=$now
    done
    return 1
}
key() { xdotool key --clearmodifiers "$1"; }
line() { printf "%-34s player %6s %%   X server %6s %%   sleep %6s %%\n" "$1" $2 $3 $4; }

sleep 600 &
idler=$!
pids+=("$idler")
