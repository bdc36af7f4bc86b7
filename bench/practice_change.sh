#!/usr/bin/env bash
# How soon a practice change is heard in the window: a 20-minute song plays with both hands
# silenced (so the sound device hears nothing), and pressing 1 brings the first hand back. The time
# is from the key to the first sample louder than silence that reaches the sound device (SDL's
# `disk` driver, which writes what a card would play, in real time). The second hand stays silent,
# so every change renders the song again from the place: at the song's own speed, at 50% and at
# 200%.
# The key is pressed 13 s after Space (10 to 12 s into the song, after its count-in), while the
# song's own render still runs beside it (the worst case: two renders share the two cores).
# The reference is `fluidsynth -a sdl2 -i SF2 SONG`'s time to its first sound: a synthesiser that
# plays as it goes, the least any change can take.
#
# Transposition and the metronome are timed on a song of their own: an organ holding A4, one note a
# second for 20 minutes, at 600 beats a minute (a beat every 0.1 s).
#   - Transposition: `.` at 12 s moves the song a semitone up. The time is from the key to the
#     first 93 ms of sound whose energy at 466.2 Hz (A#4) passes its energy at 440 Hz, measured at
#     the window's middle (Goertzel filters over the device's output, every 10 ms).
#   - Metronome: the organ silenced, `m` at 12 s; the time is to the first click. The click waits
#     for the next beat, so this counts up to 0.1 s more than the change itself takes.
#
# Usage: bench/practice_change.sh [BUILD_DIR] [SOUNDFONT]   (default: build, the system's default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
soundfont=${2:-/usr/share/sounds/sf2/default-GM.sf2}
player=$build/src/app/dorvik-midi-player
make_song=$build/tools/make_demo_song
for f in "$player" "$make_song"; do [ -x "$f" ] || { echo "practice_change: build $f first" >&2; exit 1; }; done
for tool in fluidsynth Xvfb xdotool python3; do
    command -v "$tool" >/dev/null || { echo "practice_change: $tool is not installed (setup.sh)" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data" SDL_AUDIODRIVER=disk
mkdir -p "$XDG_CONFIG_HOME/Dorvik Midi Player"
echo "[Soundfont] = $soundfont" >"$XDG_CONFIG_HOME/Dorvik Midi Player/settings.ini"
mkdir -p -m 700 "$XDG_DATA_HOME" "$XDG_DATA_HOME/dorvik-midi-player" "$XDG_DATA_HOME/dorvik-midi-player/songs"

Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 1 200); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY

song=$work/song.mid
"$make_song" --seconds 1200 "$song" >/dev/null
# The song $1's memory file, keyed as the player keys it: FNV-1a of its bytes, and its size.
memory_of() {
    echo "$XDG_DATA_HOME/dorvik-midi-player/songs/$(python3 - "$1" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
h = 14695981039346656037
for b in data:
    h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
print(f"{h:016x}-{len(data)}.txt")
PY
)"
}

# The organ song: A4 held a second at a time for 20 minutes, at 600 beats a minute.
organ=$work/organ.mid
python3 - "$organ" <<'PY'
import struct, sys
def var(n):
    out = [n & 0x7F]
    while n > 0x7F:
        n >>= 7
        out.insert(0, (n & 0x7F) | 0x80)
    return bytes(out)
division = 96
track = b"\x00\xff\x51\x03" + (100000).to_bytes(3, "big") + b"\x00\xc0\x13"
for i in range(1200):
    track += var(0 if i == 0 else 1) + b"\x90\x45\x64" + var(10 * division - 1) + b"\x80\x45\x00"
track += b"\x00\xff\x2f\x00"
with open(sys.argv[1], "wb") as f:
    f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, division))
    f.write(b"MTrk" + struct.pack(">I", len(track)) + track)
PY

# Seconds until the raw file $1 holds a sound past what it holds now; "-" after 20 s. With a
# window $2, first waits $3 seconds and presses the key $4 (1 by default) in it, and counts from
# the key.
first_sound() {
    python3 - "$@" <<'PY'
import array, os, subprocess, sys, time
path = sys.argv[1]
if len(sys.argv) > 2:
    time.sleep(float(sys.argv[3]))
    key = sys.argv[4] if len(sys.argv) > 4 else "1"
    subprocess.run(["xdotool", "key", "--window", sys.argv[2], key], check=True)
start = time.monotonic()
offset = os.path.getsize(path) // 4 * 4 if os.path.exists(path) else 0
while time.monotonic() - start < 20:
    try:
        with open(path, 'rb') as f:
            f.seek(offset)
            data = f.read()
    except FileNotFoundError:
        data = b''
    data = data[: len(data) // 2 * 2]
    if data and any(abs(s) > 2 for s in array.array('h', data)):
        print(f"{time.monotonic() - start:.3f}")
        sys.exit(0)
    offset += len(data)
    time.sleep(0.002)
print("-")
PY
}

# Seconds from the key to the first sound moved a semitone up, in the raw file $1 (stereo 16-bit at
# 44.1 kHz) from byte $2 on; "-" when it never comes.
semitone_up() {
    python3 - "$@" <<'PY'
import array, math, sys
data = open(sys.argv[1], 'rb').read()[int(sys.argv[2]) // 4 * 4:]
samples = array.array('h', data[: len(data) // 4 * 4])
mono = [(samples[i] + samples[i + 1]) / 2 for i in range(0, len(samples), 2)]
rate, size, step = 44100, 4096, 441
hann = [0.5 - 0.5 * math.cos(2 * math.pi * i / (size - 1)) for i in range(size)]
def energy(block, hz):
    c = 2 * math.cos(2 * math.pi * hz / rate)
    s1 = s2 = 0.0
    for x in block:
        s1, s2 = x + c * s1 - s2, s1
    return s1 * s1 + s2 * s2 - c * s1 * s2
for start in range(0, len(mono) - size, step):
    block = [a * b for a, b in zip(mono[start:start + size], hann)]
    if energy(block, 466.16) > energy(block, 440.0):
        print(f"{(start + size / 2) / rate:.3f}")
        sys.exit(0)
print("-")
PY
}

# Plays the song $3 (the demo song by default) with the memory $1 from its start, presses the key
# $2 (1 by default) at 12 s and prints the seconds from the key to the first sound, or with
# $4 = pitch, to the first sound a semitone up.
time_change() {
    local song_file=${3:-$song}
    printf '%b' "$1" >"$(memory_of "$song_file")"
    local raw=$work/window.raw
    rm -f "$raw"
    SDL_DISKAUDIOFILE=$raw "$player" "$song_file" >/dev/null 2>&1 &
    local pid=$!
    local window
    window=$(xdotool search --sync --onlyvisible --name "Dorvik Midi Player" | head -n1)
    xdotool windowfocus --sync "$window"
    xdotool key --clearmodifiers space
    # The count-in (a bar: 2.6 s for the demo song, 0.4 s for the organ), then 10 to 12 s of the song.
    if [ "${4:-}" = pitch ]; then
        sleep 13
        local at
        at=$(stat -c %s "$raw")
        xdotool key --window "$window" "${2:-1}"
        sleep 3
        semitone_up "$raw" "$at"
    else
        first_sound "$raw" "$window" 13 "${2:-1}"
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

reference() {
    local raw=$work/ref.raw
    rm -f "$raw"
    SDL_DISKAUDIOFILE=$raw fluidsynth -a sdl2 -i -q "$soundfont" "$song" >/dev/null 2>&1 &
    local pid=$!
    first_sound "$raw"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

ref=$(reference)
printf "%-32s %10s %16s %8s\n" "change (20-minute song)" "heard (s)" "fluidsynth (s)" "ratio"
worst=0
for row in "own speed|muted = 1 2\n" "50% speed|speed = 50\nmuted = 1 2\n" "200% speed|speed = 200\nmuted = 1 2\n"; do
    name=${row%%|*}
    t=$(time_change "${row#*|}")
    ratio=$(awk -v a="$t" -v b="$ref" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.2f", a / b }')
    printf "%-32s %10s %16s %8s\n" "hand 1 heard again, $name" "$t" "$ref" "$ratio"
    worst=$(awk -v w="$worst" -v a="$t" 'BEGIN { if (a == "-") print 99; else print (a > w ? a : w) }')
done
for row in "transposition, a semitone up|period|\n|pitch" "metronome on, the song silent|m|muted = 1\n|"; do
    IFS='|' read -r name key memory_text mode <<<"$row"
    t=$(time_change "$memory_text" "$key" "$organ" "$mode")
    ratio=$(awk -v a="$t" -v b="$ref" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.2f", a / b }')
    printf "%-32s %10s %16s %8s\n" "$name" "$t" "$ref" "$ratio"
    worst=$(awk -v w="$worst" -v a="$t" 'BEGIN { if (a == "-") print 99; else print (a > w ? a : w) }')
done
verdict=$(awk -v w="$worst" 'BEGIN { print (w <= 0.5 ? "met" : "NOT met") }')
echo "target: a change heard within 0.5 s: $verdict (worst $worst s)"
