#!/usr/bin/env bash
# A song of tens of millions of notes in the player's window on a virtual display with no GPU,
# beside the demo song measured the same way in the same run. The dense song is generated here:
# 20,000,000 notes over 180 s by default (one note a tick on 32 tracks, about 111,000 notes a
# second, a 160 MB file). For each song, named on the command line and played with Space as soon
# as the window shows:
#   - first frame: seconds from the player's start to the first screen grab whose notes area holds
#     coloured notes (grabs five times a second, so within 0.2 s);
#   - first sound: seconds from the player's start to the first sample louder than silence that
#     SDL's disk driver writes (in real time, as a card would play it). Play from the start begins
#     with a bar's count-in, so this is its first click when the song's sound is not yet there;
#   - the processor share of the player (all its threads, the render included), of its window's
#     thread alone and of the X server over 20 s of playing, as a share of one core;
#   - the share of those 20 s that the song sounded (in tenths of a second): a dense song always
#     sounds while it plays, so below 1 it waited for its render, the window showing it waiting;
#   - frames a second on the screen over 8 s of playing: distinct grabs of a strip of the notes
#     area taken 60 times a second (a frame that changed nothing counts once).
#
# With OLD_PLAYER set to another build's player, the dense song is played by it too, in the same
# run, on a row of its own.
#
# Usage: bench/window_huge.sh [BUILD_DIR] [NOTES] [SECONDS] [SOUNDFONT]
#        (default: build, 20000000, 180, /usr/share/sounds/sf2/TimGM6mb.sf2)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
notes=${2:-20000000}
seconds=${3:-180}
soundfont=${4:-/usr/share/sounds/sf2/TimGM6mb.sf2}
player=${PLAYER:-$build/src/app/dorvik-midi-player}
[ -x "$player" ] || { echo "window_huge: build $player first" >&2; exit 1; }
[ -x "$build/tools/make_dense_song" ] || { echo "window_huge: build make_dense_song first" >&2; exit 1; }
for tool in Xvfb xdotool ffmpeg python3; do
    command -v "$tool" >/dev/null || { echo "window_huge: $tool is not installed (setup.sh)" >&2; exit 1; }
done

. bench/window_session.sh
export SDL_AUDIODRIVER=disk

dense="$work/dense.mid"
"$build/tools/make_dense_song" --notes "$notes" --seconds "$seconds" --tracks 32 "$dense"

# Watches the screen's box $1 (WxH+X+Y) for coloured notes and the raw sound file $2 for a sample
# louder than silence; prints "first-frame first-sound" in seconds since the epoch time $4 (in
# seconds), "-" for what was not seen within $3 seconds. The notes and the keys' colours are saturated; the empty view is grey.
first_frame_and_sound() {
    python3 - "$1" "$2" "$3" "$4" "$DISPLAY" <<'PY'
import array, subprocess, sys, time
box, raw, limit, since, display = sys.argv[1], sys.argv[2], float(sys.argv[3]), float(sys.argv[4]), sys.argv[5]
size, x, y = box.split('+', 1)[0], *box.split('+')[1:]
w, h = map(int, size.split('x'))
start = time.monotonic()
grab = subprocess.Popen(['ffmpeg', '-v', 'error', '-f', 'x11grab', '-framerate', '5', '-video_size', size,
                         '-i', f'{display}+{x},{y}', '-f', 'rawvideo', '-pix_fmt', 'rgb24', '-'],
                        stdout=subprocess.PIPE)
import os, threading
frame_at = sound_at = None
def watch_frames():
    global frame_at
    need, step = w * h * 3, 7
    while frame_at is None:
        data = grab.stdout.read(need)
        if len(data) < need:
            return
        coloured = sum(1 for i in range(0, need - 2, 3 * step)
                       if max(data[i:i + 3]) - min(data[i:i + 3]) > 80)
        if coloured * step * 200 > w * h:  # more than half a percent of the box
            frame_at = time.time() - since
threading.Thread(target=watch_frames, daemon=True).start()
offset = 0
while time.monotonic() - start < limit and (frame_at is None or sound_at is None):
    if sound_at is None:
        try:
            with open(raw, 'rb') as f:
                f.seek(offset)
                data = f.read()
        except FileNotFoundError:
            data = b''
        data = data[: len(data) // 2 * 2]
        if data:
            if any(abs(s) > 2 for s in array.array('h', data)):
                sound_at = time.time() - since
            offset += len(data)
    time.sleep(0.005)
grab.kill()
show = lambda t: '-' if t is None else f'{t:.2f}'
print(show(frame_at), show(sound_at))
PY
}

# The share of the sound device's output from byte $2 of the raw file $1 on that is not silence,
# in tenths of a second: a song that always sounds is silent only while it waits for its render.
sounding_share() {
    python3 - "$1" "$2" <<'PY'
import array, sys
with open(sys.argv[1], 'rb') as f:
    f.seek(int(sys.argv[2]))
    data = f.read()
tenth = 44100 * 2 * 2 // 10
chunks = [data[i:i + tenth] for i in range(0, len(data) - tenth + 1, tenth)]
loud = sum(1 for c in chunks if any(abs(s) > 2 for s in array.array('h', c)))
print(f"{loud / len(chunks):.2f}" if chunks else "-")
PY
}

# Shares of one core over the next $1 seconds: the player (all its threads), its window's own
# thread (events and drawing) and the X server; then the share of that time the song sounded.
measure_window() {
    local a0 w0 x0 r0 a1 w1 x1 t0 t1
    a0=$(cpu_ns "$app") w0=$(cpu_ns "$app/task/$app") x0=$(cpu_ns "$server") r0=$(stat -c %s "$SDL_DISKAUDIOFILE") t0=$(date +%s%N)
    sleep "$1"
    a1=$(cpu_ns "$app") w1=$(cpu_ns "$app/task/$app") x1=$(cpu_ns "$server") t1=$(date +%s%N)
    awk -v a=$((a1 - a0)) -v w=$((w1 - w0)) -v x=$((x1 - x0)) -v t=$((t1 - t0)) \
        'BEGIN { printf "%.1f %.1f %.1f ", 100 * a / t, 100 * w / t, 100 * x / t }'
    sounding_share "$SDL_DISKAUDIOFILE" "$r0"
}

# Distinct grabs a second of the screen's box $1 over $2 seconds, grabbing 60 times a second.
screen_fps() {
    ffmpeg -v error -f x11grab -framerate 60 -video_size "${1%%+*}" -i "$DISPLAY+$(cut -d+ -f2 <<<"$1"),$(cut -d+ -f3 <<<"$1")" \
        -t "$2" -f rawvideo -pix_fmt gray - |
        python3 -c '
import sys, hashlib
w, h = map(int, sys.argv[1].split("x")); n = w * h; last = None; distinct = grabs = 0
while True:
    d = sys.stdin.buffer.read(n)
    if len(d) < n: break
    grabs += 1
    k = hashlib.md5(d).digest()
    distinct += k != last; last = k
print(f"{distinct / float(sys.argv[2]):.1f} {grabs / float(sys.argv[2]):.1f}")' "${1%%+*}" "$2"
}

# Prints "first-frame first-sound player% window% x% sounding fps grabs/s peak-MB" for a song.
play_song() {
    local raw=$work/sound.raw frame sound wx wy ww wh notesBox stripBox cpu fps rss
    rm -f "$raw"
    mkdir -p "$XDG_CONFIG_HOME/Dorvik Midi Player"
    echo "[Soundfont] = $soundfont" >"$XDG_CONFIG_HOME/Dorvik Midi Player/settings.ini"
    export SDL_DISKAUDIOFILE=$raw
    local t0
    t0=$(date +%s.%N)
    start_player "$1"
    key space
    eval "$(xdotool getwindowgeometry --shell "$window")"
    wx=$X wy=$Y ww=$WIDTH wh=$HEIGHT
    # The notes fall over the left three quarters of the client, above the keyboard in its lower
    # half; the strip watched for frames lies where they fall, clear of the bar numbers.
    notesBox="$((ww * 3 / 4))x$((wh / 2))+$wx+$wy"
    stripBox="$((ww / 2))x$((wh / 8))+$((wx + ww / 8))+$((wy + wh / 4))"
    read -r frame sound <<<"$(first_frame_and_sound "$notesBox" "$raw" 60 "$t0")"
    sleep 2
    cpu=$(measure_window 20)
    fps=$(screen_fps "$stripBox" 8)
    rss=$(awk '/VmHWM/ { printf "%.0f", $2 / 1024 }' /proc/"$app"/status)
    kill "$app"
    wait "$app" 2>/dev/null || true
    rm -rf "$XDG_CACHE_HOME" "$XDG_CONFIG_HOME"  # the next song starts as this one did
    echo "$frame $sound $cpu $fps $rss"
}

demo=$(play_song examples/demo_song.mid)
huge=$(play_song "$dense")
if [ -n "${OLD_PLAYER:-}" ]; then
    player=$OLD_PLAYER
    old=$(play_song "$dense")
fi

echo "window on Xvfb (no GPU), song named at start, Space at once; seconds from the player's start"
row() { printf "%-24s %11s %11s %9s %9s %5s %7s %9s %8s %8s\n" "$@"; }
row song "first frame" "first sound" "player %" "window %" "X %" "sounds" "frames/s" "grabs/s" "peak MB"
row "demo song" $demo
row "$notes notes in $seconds s" $huge
[ -n "${OLD_PLAYER:-}" ] && row "  the same, OLD_PLAYER" $old
echo "(player: all its threads, the render's included; window: the thread that draws;"
echo " sounds: share of the time the song sounded; below 1 it waited for its render)"
read -r hf hs _ hw _ _ hfps _ _ <<<"$huge"
read -r _ _ _ dw _ _ dfps _ _ <<<"$demo"
awk -v f="$hf" -v s="$hs" -v c="$hw" -v dc="$dw" -v fps="$hfps" -v dfps="$dfps" 'BEGIN {
    printf "dense / demo: window thread %.2f, frames a second %.2f\n", (dc > 0 ? c / dc : 0), (dfps > 0 ? fps / dfps : 0);
    printf "first frame and first sound within 2 s of the start: %s\n",
           (f != "-" && s != "-" && f <= 2 && s <= 2 ? "met" : "NOT met") }'
