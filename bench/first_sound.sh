#!/usr/bin/env bash
# Time to first sound: from the moment a song is asked to play to the first sample louder than
# silence that reaches the sound device, for songs of 1, 5, 20 and 30 minutes.
#   - `dorvik-midi play --soundfont SF2 SONG.mid`, measured from the command's start;
#   - the window, the song named on its command line: from Space (pressed as soon as the window
#     shows) to the first sound. Every play from the start begins with a bar's count-in, clicked
#     through the song's own player: the first sound is its first click.
#   - the reference, `fluidsynth -a sdl2 -i SF2 SONG.mid`, which synthesises as it plays and starts
#     at once, measured like `play`.
# The sound device is SDL's `disk` driver, which writes what a card would play, in real time; the
# first sound is where that file first holds a sample louder than a 16-bit step or two.
#
# Usage: bench/first_sound.sh [BUILD_DIR] [SOUNDFONT]   (default: build, the system's default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
soundfont=${2:-/usr/share/sounds/sf2/default-GM.sf2}
cli=$build/src/cli/dorvik-midi
player=$build/src/app/dorvik-midi-player
make_song=$build/tools/make_demo_song
for f in "$cli" "$player" "$make_song"; do [ -x "$f" ] || { echo "first_sound: build $f first" >&2; exit 1; }; done
for tool in fluidsynth Xvfb xdotool python3; do
    command -v "$tool" >/dev/null || { echo "first_sound: $tool is not installed (setup.sh)" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" SDL_AUDIODRIVER=disk
mkdir -p "$XDG_CONFIG_HOME/Dorvik Midi Player"
echo "[Soundfont] = $soundfont" >"$XDG_CONFIG_HOME/Dorvik Midi Player/settings.ini"

Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 1 200); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY

# Seconds from now until the raw file $1 first holds a sound; "-" after $2 seconds.
first_sound() {
    python3 - "$1" "$2" <<'PY'
import array, os, sys, time
path, limit = sys.argv[1], float(sys.argv[2])
start, offset = time.monotonic(), 0
while time.monotonic() - start < limit:
    try:
        with open(path, 'rb') as f:
            f.seek(offset)
            data = f.read()
    except FileNotFoundError:
        data = b''
    data = data[: len(data) // 2 * 2]
    if data:
        if any(abs(s) > 2 for s in array.array('h', data)):
            print(f"{time.monotonic() - start:.3f}")
            sys.exit(0)
        offset += len(data)
    time.sleep(0.002)
print("-")
PY
}

# Runs the command in the background with the disk driver writing $1, and prints the time to its
# first sound.
time_command() {
    local raw=$1
    shift
    rm -f "$raw"
    SDL_DISKAUDIOFILE=$raw "$@" >/dev/null 2>&1 &
    local pid=$!
    local t
    t=$(first_sound "$raw" 20)
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    echo "$t"
}

# The window: Space as soon as the window shows; the time from Space.
time_window() {
    local song=$1 raw=$work/window.raw
    rm -f "$raw"
    SDL_DISKAUDIOFILE=$raw "$player" "$song" >/dev/null 2>&1 &
    local pid=$!
    local window
    window=$(xdotool search --sync --onlyvisible --name "Dorvik Midi Player" | head -n1)
    xdotool windowfocus --sync "$window"
    # The song loads at start-up; Space plays it.
    xdotool key --clearmodifiers space
    local t
    t=$(first_sound "$raw" 20)
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    echo "$t"
}

printf "%-8s %12s %22s %14s %10s\n" "song" "play (s)" "window, count-in (s)" "fluidsynth (s)" "play/ref"
worst=0
for minutes in 1 5 20 30; do
    song=$work/song-$minutes.mid
    "$make_song" --seconds $((minutes * 60)) "$song" >/dev/null
    play=$(time_command "$work/play.raw" "$cli" play --soundfont "$soundfont" "$song")
    window=$(time_window "$song")
    ref=$(time_command "$work/ref.raw" fluidsynth -a sdl2 -i -q "$soundfont" "$song")
    ratio=$(awk -v a="$play" -v b="$ref" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.2f", a / b }')
    printf "%-8s %12s %22s %14s %10s\n" "${minutes} min" "$play" "$window" "$ref" "$ratio"
    worst=$(awk -v w="$worst" -v a="$play" -v b="$window" 'BEGIN { m = w; if (a == "-" || b == "-") m = 99;
        else { if (a > m) m = a; if (b > m) m = b }; print m }')
done
verdict=$(awk -v w="$worst" 'BEGIN { print (w <= 0.5 ? "met" : "NOT met") }')
echo "target: first sound within 0.5 s in play and in the window (its count-in's first click): $verdict (worst $worst s)"
