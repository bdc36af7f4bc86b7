#!/usr/bin/env bash
# CPU use of the player while its window is shown and idle, beside an idle `sleep` measured the
# same way: processor time over SECONDS (10 by default) as a percentage of one core.
#
# Usage: bench/idle_cpu.sh [BUILD_DIR]   (default: build)
# Runs under its own Xvfb; needs xvfb-run. The player gets an empty settings folder of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${SECONDS_TO_MEASURE:-10}
player="$build/src/app/dorvik-midi-player"
[ -x "$player" ] || { echo "idle_cpu: build $player first" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "idle_cpu: xvfb-run is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Inside Xvfb: start the program, let it settle, then take its user+system ticks over the window.
cat >"$work/measure.sh" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
seconds=$1; shift
"$@" &
pid=$!
sleep 2
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
before=$(ticks)
sleep "$seconds"
after=$(ticks)
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
hz=$(getconf CLK_TCK)
awk -v d=$((after - before)) -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.2f\n", 100 * d / hz / s }'
INNER
chmod +x "$work/measure.sh"

export XDG_CONFIG_HOME="$work/config"
player_pct=$(xvfb-run -a -s "-screen 0 1920x1080x24" "$work/measure.sh" "$seconds" "$player")
sleep_pct=$(xvfb-run -a -s "-screen 0 1920x1080x24" "$work/measure.sh" "$seconds" sleep $((seconds + 5)))

echo "idle window, ${seconds} s: dorvik-midi-player ${player_pct} % of one core; sleep ${sleep_pct} %"
awk -v p="$player_pct" 'BEGIN { if (p < 5.0) print "target (< 5 %): met"; else print "target (< 5 %): NOT met" }'
