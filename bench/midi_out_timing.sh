#!/usr/bin/env bash
# How well `dorvik-midi play --midi-out` keeps the song's time: a song of chords on one channel
# and a melody on another, with a tempo change half-way (tests/cli/midi_song.py), played into an
# instrument on a JACK server (dummy back end, 64-frame periods at 48 kHz: 1.33 ms) that notes
# JACK's clock at the period each message arrives in. Each onset is compared with the song's own time, both counted from
# the first onset: the error is how far the spacing strays, and the jitter is the spread of it.
#
# The reference, sending the same note-ons to the same port in the same run: a bare RtMidi client
# (python3-rtmidi) that sleeps until each note is due by the monotonic clock, the least any
# player on this MIDI system does. aplaymidi sends only to ALSA sequencer ports and FluidSynth's
# player drives its own synthesiser, not a MIDI output, so neither can play into a JACK port.
#
# Target: every onset within 2 ms of the song's time.
# Usage: bench/midi_out_timing.sh [BUILD_DIR] [BARS]   (default: build, 8)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
bars=${2:-8}
cli=$root/$build/src/cli/dorvik-midi
python=/usr/bin/python3
[ -x "$cli" ] || { echo "midi_out_timing: build $cli first" >&2; exit 1; }
"$python" -c 'import rtmidi' 2>/dev/null || { echo "midi_out_timing: python3-rtmidi is not installed (setup.sh)" >&2; exit 1; }

work=$(mktemp -d)
listener=
cleanup() {
    exec 3>&- 2>/dev/null || true
    [ -n "$listener" ] && { kill "$listener" 2>/dev/null; wait "$listener" 2>/dev/null; } || true
    stop_jack
    if [ -n "${KEEP:-}" ]; then echo "midi_out_timing: files kept in $work" >&2; else rm -rf "$work"; fi
}
. tests/cli/jack_server.sh
trap cleanup EXIT
cd "$work"
# The server's periods on time, where the machine allows real-time scheduling (as an instrument's
# own clock would be); otherwise as the tests run it.
scheduling="real-time"
export DORVIK_JACK_SCHEDULING=--realtime
if ! start_jack_midi bench; then
    scheduling="ordinary"
    unset DORVIK_JACK_SCHEDULING
    start_jack_midi bench || { echo "midi_out_timing: $jack_failure" >&2; exit 1; }
fi
listen() {
    rm -f listen.in && mkfifo listen.in
    "$python" "$root/tests/cli/midi_listen.py" <listen.in >"$1" &
    listener=$!
    exec 3>listen.in
    wait_for "$1" '^ready' || { echo "midi_out_timing: the instrument did not start" >&2; exit 1; }
}
unlisten() {
    exec 3>&-
    wait "$listener"
    listener=
}

"$python" "$root/tests/cli/midi_song.py" song.mid --bars "$bars" >expected.txt

listen ours.txt
"$cli" play --midi-out 'Test piano' song.mid 2>/dev/null
unlisten

listen reference.txt
"$python" - expected.txt <<'PY'
import sys, time, rtmidi
notes = [(float(s), int(c), int(k)) for s, c, k in (line.split() for line in open(sys.argv[1]))]
out = rtmidi.MidiOut(rtmidi.API_UNIX_JACK, name="reference player")
port = next(i for i, name in enumerate(out.get_ports()) if name.startswith("Test piano"))
out.open_port(port)
time.sleep(0.5)  # the connection shows in the graph a period or two after it is made
start = time.monotonic()
for seconds, channel, key in notes:
    time.sleep(max(0.0, start + seconds - time.monotonic()))
    out.send_message([0x90 | channel, key, 80])
time.sleep(0.2)
for seconds, channel, key in notes:
    out.send_message([0x80 | channel, key, 0])
time.sleep(0.2)
out.close_port()
PY
unlisten

"$python" - expected.txt ours.txt reference.txt "$scheduling" <<'PY'
import statistics, sys
expected = [float(line.split()[0]) for line in open(sys.argv[1])]

def onsets(path):
    rows = [line.split() for line in open(path) if line[0].isdigit()]
    return [float(t) for t, s, k, v in rows if int(s) & 0xF0 == 0x90 and int(v) > 0]

print(f"{len(expected)} onsets over {expected[-1]:.1f} s, through JACK (64-frame periods at 48 kHz, "
      f"{sys.argv[4]} scheduling), timed by JACK's clock at the receiving period")
results = {}
for name, path in (("dorvik-midi play --midi-out", sys.argv[2]), ("bare RtMidi sender (reference)", sys.argv[3])):
    got = onsets(path)
    if len(got) != len(expected):
        print(f"{name}: {len(got)} of {len(expected)} onsets arrived")
        results[name] = None
        continue
    errors = [(g - got[0]) - (e - expected[0]) for g, e in zip(got, expected)]
    worst = max(abs(x) for x in errors)
    within = sum(abs(x) <= 0.002 for x in errors)
    results[name] = worst
    print(f"{name}: worst {worst * 1000:.2f} ms, jitter (sd) {statistics.pstdev(errors) * 1000:.2f} ms, "
          f"median |error| {statistics.median(abs(x) for x in errors) * 1000:.2f} ms, "
          f"{within}/{len(errors)} within 2 ms")
ours, reference = results["dorvik-midi play --midi-out"], results["bare RtMidi sender (reference)"]
if ours is not None and reference:
    print(f"worst case, ours / reference: {ours / reference:.2f}")
print("target: every onset within 2 ms:", "met" if ours is not None and ours <= 0.002 else "NOT met")
PY
