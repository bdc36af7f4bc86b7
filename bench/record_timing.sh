#!/usr/bin/env bash
# How faithfully `dorvik-midi record` keeps the timing of what is played: 200 notes, chords of two
# and three among them, played into a JACK server (dummy back end, 64-frame periods at 48 kHz) by a
# scripted keyboard, which notes the moment of every send. Each onset and release the take holds is
# compared with its send time, after the constant delay of the trip is taken out (the median).
#
# The reference, recording the same notes in the same run from the same port: a bare RtMidi
# client (python3-rtmidi) that stamps each message with the monotonic clock in its callback, the
# least any recorder on this MIDI system can do.
#
# Target: every onset within 5 ms of its send time.
# Usage: bench/record_timing.sh [BUILD_DIR] [NOTES]   (default: build, 200)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
notes=${2:-200}
cli=$root/$build/src/cli/dorvik-midi
python=/usr/bin/python3
[ -x "$cli" ] || { echo "record_timing: build $cli first" >&2; exit 1; }
"$python" -c 'import rtmidi' 2>/dev/null || { echo "record_timing: python3-rtmidi is not installed (setup.sh)" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
    exec 3>&- 2>/dev/null || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    stop_jack
    if [ -n "${KEEP:-}" ]; then echo "record_timing: files kept in $work" >&2; else rm -rf "$work"; fi
}
. tests/cli/jack_server.sh
trap cleanup EXIT
cd "$work"
start_jack_midi bench || { echo "record_timing: $jack_failure" >&2; exit 1; }
# Waits for a client's line, or ends the run saying what came instead.
expect_line() { wait_for "$1" "$2" || { echo "record_timing: no \"$2\" in $1: $(cat "$1")" >&2; exit 1; }; }

mkfifo keys.in
"$python" "$root/tests/cli/midi_keys.py" --notes "$notes" <keys.in >sent.txt &
pids+=($!)
exec 3>keys.in
expect_line sent.txt '^ready'

# The reference recorder: prints "SECONDS STATUS KEY VELOCITY" for every message, until its input
# closes.
cat >reference.py <<'PY'
import sys, time, rtmidi
got = []
def keep(event, data):
    got.append((time.monotonic(), event[0]))
recorder = rtmidi.MidiIn(rtmidi.API_UNIX_JACK, name="reference")
recorder.open_port([p for p in recorder.get_ports()].index("Test keyboard:keys"))
recorder.set_callback(keep)
print("ready", flush=True)
sys.stdin.read()
recorder.close_port()
for t, message in got:
    print(f"{t:.6f} {' '.join(str(b) for b in message)}")
PY
mkfifo reference.in
"$python" reference.py <reference.in >reference.txt &
pids+=($!)
exec 4>reference.in
expect_line reference.txt '^ready'

"$cli" record -o take.mid 2>record.err &
recorder=$!
pids+=($recorder)
expect_line record.err 'recording from'
echo play >&3
for _ in $(seq 1 1200); do grep -q '^done' sent.txt && break; sleep 0.1; done
sleep 0.5
kill -INT $recorder
wait $recorder
exec 4>&-
wait "${pids[1]}"
"$cli" info --json take.mid >take.json

"$python" - sent.txt take.json reference.txt <<'PY'
import json, statistics, sys
def pairs(rows):
    """(key, onset, release) from (seconds, status, key) rows."""
    on, out = {}, []
    for t, status, key in rows:
        if status == 144:
            on[key] = t
        elif key in on:
            out.append((on.pop(key), key, t))
    return sorted(out)
rows = lambda path: [(float(r[0]), int(r[1]), int(r[2])) for r in (l.split() for l in open(path)) if len(r) >= 4 and r[0][0].isdigit()]
sent = pairs(rows(sys.argv[1]))
song = json.load(open(sys.argv[2]))
ours = sorted((n[1], n[0], n[2]) for part in song["parts"] for n in part["notes"])
reference = pairs(rows(sys.argv[3]))

def errors(got, name):
    if [k for _, k, _ in got] != [k for _, k, _ in sent]:
        at = next((i for i, (g, s) in enumerate(zip(got, sent)) if g[1] != s[1]), min(len(got), len(sent)))
        sys.exit(f"record_timing: {name} holds {len(got)} notes, not the {len(sent)} sent in their order; "
                 f"from note {at}: sent {sent[at:at + 4]}, got {got[at:at + 4]}")
    t0, g0 = sent[0][0], got[0][0]
    onsets = [(g[0] - g0) - (s[0] - t0) for g, s in zip(got, sent)]
    releases = [(g[2] - g0) - (s[2] - t0) for g, s in zip(got, sent)]
    delay = statistics.median(onsets)
    return [abs(e - delay) * 1000 for e in onsets], [abs(e - delay) * 1000 for e in releases]

def line(name, values):
    values = sorted(values)
    p95 = values[int(0.95 * (len(values) - 1))]
    return f"  {name:<30} median {statistics.median(values):5.2f} ms  95% {p95:5.2f} ms  max {values[-1]:5.2f} ms"

ours_on, ours_off = errors(ours, "the take")
ref_on, ref_off = errors(reference, "the reference")
# Notes struck together: the sender sends a chord's keys within a millisecond.
chords = sum(1 for i, s in enumerate(sent)
             if (i > 0 and s[0] - sent[i - 1][0] < 0.001) or (i + 1 < len(sent) and sent[i + 1][0] - s[0] < 0.001))
print(f"record_timing: {len(sent)} notes ({chords} of them in chords), errors after the median delay")
print(line("dorvik-midi record, onsets", ours_on))
print(line("dorvik-midi record, releases", ours_off))
print(line("reference RtMidi, onsets", ref_on))
print(line("reference RtMidi, releases", ref_off))
print(f"  worst onset: {max(ours_on):.2f} ms, {max(ours_on) / max(max(ref_on), 1e-3):.2f}x the reference's; "
      f"target 5 ms: {'met' if max(ours_on) <= 5 else 'NOT met'}")
PY
