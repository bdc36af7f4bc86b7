#!/usr/bin/env bash
# Live keys: from a key's event to its sound in a sound buffer, with a 256-frame period.
#
# A JACK server runs on its dummy back end (44.1 kHz, 256-frame period), which keeps time like a
# sound card. A Python sender (python3-rtmidi) plays keys over JACK MIDI, stamping each key's
# event with the monotonic clock just before it goes out; every key is released and silenced
# before the next, at a random phase of the period.
#   - the player's keys: live_latency_probe takes the events with RtMidi and mixes a LiveSynth
#     into a playing song on the sound layer; SDL has no JACK driver in Debian 12, so the sound
#     device is SDL's `disk` driver with a 256-frame period (written to /dev/null). The moment is
#     when the device callback carrying the key's first sound returns its buffer to SDL.
#   - the reference: `fluidsynth -a jack -m jack -z 256` on the same server, its left output
#     captured by the probe; the moment is the JACK cycle whose buffer first carries the sound.
# Prints the latency distribution of each (median, 95th percentile, max) and the CPU share of a
# core of each process while the keys play.
#
# Usage: bench/live_latency.sh [BUILD_DIR] [SOUNDFONT] [KEYS]   (default: build, default-GM, 60)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
soundfont=${2:-/usr/share/sounds/sf2/default-GM.sf2}
keys=${3:-60}
probe=$build/bench/live_latency_probe
[ -x "$probe" ] || { echo "live_latency: build $probe first (needs librtmidi-dev and libjack)" >&2; exit 1; }
# Debian's Python, which python3-rtmidi is installed for, whatever else is first on the PATH.
py=/usr/bin/python3
for tool in jackd jack_connect jack_lsp fluidsynth "$py"; do
    command -v "$tool" >/dev/null || { echo "live_latency: $tool is not installed (setup.sh)" >&2; exit 1; }
done
"$py" -c 'import rtmidi' 2>/dev/null || { echo "live_latency: python3-rtmidi is not installed (setup.sh)" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
    [ -n "${LIVE_LATENCY_KEEP:-}" ] && cp -r "$work" "$LIVE_LATENCY_KEEP"
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A server of our own, so that nothing else on the machine is disturbed or heard.
export JACK_DEFAULT_SERVER="dorvik-live-$$" JACK_NO_AUDIO_RESERVATION=1
# Real-time scheduling as on a musician's machine where it is allowed, else without.
scheduling=""
for mode in "-R -P 70" "--no-realtime"; do
    # shellcheck disable=SC2086
    jackd $mode -d dummy -r 44100 -p 256 >"$work/jackd.log" 2>&1 &
    jack=$!
    pids+=("$jack")
    for _ in $(seq 1 50); do jack_lsp >/dev/null 2>&1 && break; sleep 0.1; done
    if jack_lsp >/dev/null 2>&1; then
        scheduling=$mode
        break
    fi
    kill "$jack" 2>/dev/null || true
done
[ -n "$scheduling" ] || { echo "live_latency: jackd did not start" >&2; cat "$work/jackd.log" >&2; exit 1; }

# Plays $keys keys to the MIDI port whose name holds $1; prints "send NS" per key.
send_keys() {
    "$py" - "$1" "$keys" <<'PY'
import random, sys, time
import rtmidi
target, count = sys.argv[1], int(sys.argv[2])
out = rtmidi.MidiOut(rtapi=rtmidi.API_UNIX_JACK, name="sender")
for _ in range(100):
    ports = [i for i, p in enumerate(out.get_ports()) if target in p]
    if ports:
        break
    time.sleep(0.1)
out.open_port(ports[0])
time.sleep(0.5)
random.seed(7)
for n in range(count):
    key = 48 + (n * 7) % 36
    time.sleep(random.uniform(0, 0.006))
    t = time.monotonic_ns()
    out.send_message([0x90, key, 100])
    print("send", t, flush=True)
    time.sleep(0.15)
    out.send_message([0x80, key, 0])
    out.send_message([0xB0, 120, 0])
    time.sleep(0.35)
out.close_port()
PY
}

# CPU seconds (user + system) of process $1 so far.
cpu_seconds() { awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$1/stat"; }

# Runs the probe in mode $1 (more arguments follow) until the keys are sent to $port; `connect`,
# if set, runs once the probe is ready. Leaves the probe's lines in $work/$1.out and the CPU share
# of process $cpu_pid (the probe when empty) in $work/$1.cpu.
run_probe() {
    local mode=$1
    shift
    mkfifo "$work/$mode.in"
    SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null OMP_NUM_THREADS=1 \
        "$probe" "$mode" "$@" <"$work/$mode.in" >"$work/$mode.out" 2>"$work/$mode.err" &
    local pid=$!
    pids+=("$pid")
    exec 7>"$work/$mode.in"
    for _ in $(seq 1 100); do grep -q ready "$work/$mode.out" && break; sleep 0.1; done
    grep -q ready "$work/$mode.out" || { echo "live_latency: the $mode probe did not start" >&2; cat "$work/$mode.err" >&2; exit 1; }
    [ -n "${connect:-}" ] && eval "$connect"
    local watched=${cpu_pid:-$pid}
    local c0 t0 c1 t1
    c0=$(cpu_seconds "$watched")
    t0=$(date +%s.%N)
    send_keys "$port" >"$work/$mode.sent"
    c1=$(cpu_seconds "$watched")
    t1=$(date +%s.%N)
    exec 7>&-
    wait "$pid"
    echo "$c0 $c1 $t0 $t1" | awk '{ printf "%.1f", 100 * ($2 - $1) / ($4 - $3) }' >"$work/$mode.cpu"
}

# The distributions of the keys' latencies: from the sender's event (and, for the player's keys,
# from the key handed to the live synthesiser) to the first onset after it.
report() {
    "$py" - "$work/$1.sent" "$work/$1.out" "$2" "$(cat "$work/$1.cpu")" <<'PY'
import bisect, sys
sent = [int(l.split()[1]) for l in open(sys.argv[1]) if l.startswith("send")]
lines = open(sys.argv[2]).read().splitlines()
onsets = sorted(int(l.split()[1]) for l in lines if l.startswith("onset"))
received = [int(l.split()[1]) for l in lines if l.startswith("received")]
mixcpu = [float(l.split()[1]) for l in lines if l.startswith("mixcpu")]

def onset_after(t):
    i = bisect.bisect_left(onsets, t)
    return onsets[i] if i < len(onsets) and onsets[i] - t < 500_000_000 else None

def line(what, starts):
    lat = sorted((o - t) / 1e6 for t in starts if (o := onset_after(t)) is not None)
    if not lat:
        return f"  {what}: no key was heard ({len(starts)} played)"
    pick = lambda q: lat[min(len(lat) - 1, int(q * len(lat)))]
    return (f"  {what}: median {pick(0.5):.2f} ms, 95th {pick(0.95):.2f} ms, max {lat[-1]:.2f} ms"
            f" ({len(lat)} of {len(starts)} keys heard)")

print(sys.argv[3])
if received:
    print(line("key handed to the synthesiser -> sound buffer", received))
print(line("sender's event -> sound buffer", sent))
if received:
    net = sorted((r - s) / 1e6 for s, r in zip(sent, received))
    print(f"  (JACK MIDI alone, sender's event -> received: median {net[len(net) // 2]:.2f} ms, max {net[-1]:.2f} ms)")
cpu = f"  CPU of the process while the keys play: {sys.argv[4]}% of a core"
if mixcpu:
    cpu += f"; in the live synthesiser's Mix: {100 * mixcpu[0]:.1f}%"
print(cpu)
PY
}

echo "JACK dummy back end ($scheduling): 44100 Hz, 256-frame period (5.80 ms); live sound device: SDL disk driver, 256-frame period; SoundFont $soundfont"

port=probe:in connect="" cpu_pid="" run_probe keys "$soundfont"
report keys "the player's keys (RtMidi in, LiveSynth mixed into a playing song, SDL period 256):"

fluidsynth -a jack -m jack -z 256 -c 2 -g 0.5 -o audio.jack.autoconnect=0 -o midi.autoconnect=0 \
    -si "$soundfont" >"$work/fluid.log" 2>&1 </dev/null &
fluid=$!
pids+=("$fluid")
for _ in $(seq 1 100); do jack_lsp 2>/dev/null | grep -qE '^fluidsynth[^:]*:left$' && break; sleep 0.1; done
# One client carries both ends, named after the MIDI driver.
left=$(jack_lsp 2>/dev/null | grep -E '^fluidsynth[^:]*:left$' | head -n1)
midi=$(jack_lsp 2>/dev/null | grep -E '^fluidsynth[^:]*:midi' | head -n1)
[ -n "$left" ] && [ -n "$midi" ] || { echo "live_latency: fluidsynth did not appear on the server" >&2; cat "$work/fluid.log" >&2; jack_lsp >&2; exit 1; }
port=$midi connect="jack_connect '$left' capture:in" cpu_pid=$fluid run_probe capture
report capture "reference, fluidsynth -a jack -m jack -z 256 on the same server:"
