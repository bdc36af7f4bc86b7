#!/usr/bin/env bash
# A song of tens of millions of notes in the player's window on a virtual display with no GPU,
# beside the demo song measured the same way in the same run. The dense song is generated here:
# 20,000,000 notes over 180 s by default (one note a tick on 32 tracks, about 111,000 notes a
# second, a 160 MB file). For each song, named on the command line and played with Space as soon
# as the window shows:
#   - first frame: seconds from the player's start to the first screen grab whose notes area holds
#     coloured notes (the screen is grabbed ten times a second from before the player starts, so
#     within 0.1 s);
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

# Watches, from before the player starts, the whole screen (at a quarter of its size, ten grabs a
# second, each stamped as it arrives) and the raw sound file $1 (a sample louder than silence).
# Once the file $2 names the notes' box (WxH+X+Y on the screen) the grabs kept so far, and those
# that follow, are searched for the first whose box holds coloured notes: the notes and the keys'
# colours are saturated, the empty view is grey. Prints "first-frame first-sound" to $3 in seconds
# since the epoch time $5 (0: the epoch's), "-" for what was not seen within $4 seconds. Runs in the background.
watch_first_frame_and_sound() {
    python3 - "$1" "$2" "$3" "$4" "$5" "$DISPLAY" <<'PY' &
import array, os, subprocess, sys, threading, time
raw, boxfile, out, limit, since, display = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4]), float(sys.argv[5]), sys.argv[6]
W, H, scale = 1920, 1080, 4
w, h = W // scale, H // scale
grab = subprocess.Popen(['ffmpeg', '-v', 'error', '-f', 'x11grab', '-framerate', '10', '-video_size', f'{W}x{H}',
                         '-i', f'{display}+0,0', '-vf', f'scale={w}:{h}', '-f', 'rawvideo', '-pix_fmt', 'rgb24', '-'],
                        stdout=subprocess.PIPE)
grabs = []  # (arrival time, frame)
def keep_grabs():
    need = w * h * 3
    while True:
        data = grab.stdout.read(need)
        if len(data) < need:
            return
        grabs.append((time.time(), data))
threading.Thread(target=keep_grabs, daemon=True).start()
def coloured(frame, box):
    size, x, y = box.split('+')[0], *box.split('+')[1:]
    bw, bh = (int(v) // scale for v in size.split('x'))
    bx, by = int(x) // scale, int(y) // scale
    hits = 0
    for row in range(by, by + bh, 2):
        base = (row * w + bx) * 3
        line = frame[base:base + bw * 3]
        hits += sum(1 for i in range(0, len(line) - 2, 6) if max(line[i:i + 3]) - min(line[i:i + 3]) > 80)
    return hits * 4 * 200 > bw * bh  # more than half a percent of the box
start = time.monotonic()
frame_at = sound_at = None
box, seen, offset = None, 0, 0
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
    if box is None and os.path.exists(boxfile):
        box = open(boxfile).read().strip() or None
    while frame_at is None and box is not None and seen < len(grabs):
        stamp, frame = grabs[seen]
        seen += 1
        if coloured(frame, box):
            frame_at = stamp - since
    time.sleep(0.01)
grab.kill()
show = lambda t: '-' if t is None else f'{t:.2f}'
with open(out, 'w') as f:
    f.write(f'{show(frame_at)} {show(sound_at)}\n')
PY
    watcher=$!
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
    local t0 watcher
    rm -f "$work/box" "$work/first"
    # The watch starts first, so that neither its own start nor the wait for the window delays it.
    watch_first_frame_and_sound "$raw" "$work/box" "$work/first" 60 0
    sleep 0.5  # the grabber is up before the player starts
    t0=$(date +%s.%N)
    start_player "$1"
    key space
    eval "$(xdotool getwindowgeometry --shell "$window")"
    wx=$X wy=$Y ww=$WIDTH wh=$HEIGHT
    # The notes fall over the left three quarters of the client, above the keyboard in its lower
    # half; the strip watched for frames lies where they fall, clear of the bar numbers.
    notesBox="$((ww * 3 / 4))x$((wh / 2))+$wx+$wy"
    stripBox="$((ww / 2))x$((wh / 8))+$((wx + ww / 8))+$((wy + wh / 4))"
    echo "$notesBox" >"$work/box"
    wait "$watcher" || true
    read -r frame sound < <(awk -v t0="$t0" '{ for (i = 1; i <= 2; i++) $i = ($i == "-" ? "-" : sprintf("%.2f", $i - t0)); print }' "$work/first")
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
