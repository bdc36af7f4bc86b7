#!/usr/bin/env bash
# Processor use of the player's window on a virtual display with no GPU while a song far denser
# than anyone plays goes by, as a share of one core, beside the demo song measured the same way in
# the same run: each is loaded, its render waited for, and then played for 20 s in the normal view
# and 10 s in the full view. The dense song is generated here: 2,000,000 notes over 66 s (one note
# a tick on 16 tracks, 30,000 notes a second). Drawing is bounded by the window's pixels, not by
# the notes, so the dense song should cost the window little more than the demo song: the target
# is at most 20 % of a core.
#
# Usage: bench/window_dense_cpu.sh [BUILD_DIR] [NOTES]   (default: build, 2000000)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
notes=${2:-2000000}
player=${PLAYER:-$build/src/app/dorvik-midi-player}
[ -x "$player" ] || { echo "window_dense_cpu: build $player first" >&2; exit 1; }
[ -x "$build/tools/make_dense_song" ] || { echo "window_dense_cpu: build make_dense_song first" >&2; exit 1; }
for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "window_dense_cpu: $tool is not installed (setup.sh)" >&2; exit 1; }
done

. bench/window_session.sh

dense="$work/dense.mid"
"$build/tools/make_dense_song" --notes "$notes" --seconds 66 "$dense"

# Prints "normal full render-seconds" for one song.
play_song() {
    local t0 t1 normal full
    t0=$(date +%s)
    start_player "$1"
    wait_for_render 600 || echo "window_dense_cpu: the render of $1 did not settle" >&2
    t1=$(date +%s)
    sleep 1
    key space
    sleep 1
    normal=$(measure 20)
    key Escape
    sleep 1
    full=$(measure 10)
    kill "$app"
    wait "$app" 2>/dev/null || true
    rm -rf "$XDG_CACHE_HOME" "$XDG_CONFIG_HOME"  # the next song starts as this one did
    echo "${normal// /,} ${full// /,} $((t1 - t0))"
}

read -r demoNormal demoFull demoWait <<<"$(play_song examples/demo_song.mid)"
read -r denseNormal denseFull denseWait <<<"$(play_song "$dense")"

echo "window on Xvfb (no GPU), playing after the render, share of one core"
line "demo song, normal view (20 s)" ${demoNormal//,/ }
line "demo song, full view (10 s)" ${demoFull//,/ }
line "$notes notes, normal view (20 s)" ${denseNormal//,/ }
line "$notes notes, full view (10 s)" ${denseFull//,/ }
echo "loaded and rendered in: demo ${demoWait} s, dense ${denseWait} s"
awk -v d="${denseNormal%%,*}" -v m="${demoNormal%%,*}" -v f="${denseFull%%,*}" 'BEGIN {
    printf "dense / demo, normal view: %.2f; target dense <= 20 %%: normal %s, full %s\n",
           (m > 0 ? d / m : 0), (d <= 20 ? "met" : "NOT met"), (f <= 20 ? "met" : "NOT met") }'
