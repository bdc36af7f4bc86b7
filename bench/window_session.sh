# Sourced by the window benchmarks: a virtual display with no GPU of the run's own, the player's
# settings and cache in a fresh folder, and the helpers that start the player, press its keys and
# measure processor shares of the player, the X server and an idle `sleep` side by side.
# Needs $player set; defines $work, $server, $idler, $app and $window, start_player, key, measure
# and line, and cleans up on exit.
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
