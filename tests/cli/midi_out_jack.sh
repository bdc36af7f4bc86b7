#!/bin/bash
# dorvik-midi play --midi-out against a real MIDI system: a JACK server on its dummy back end and
# an instrument played by another client (midi_listen.py).
#   - ports lists the instrument as an output;
#   - a song with chords, two channels and a tempo change arrives whole: every note-on, in the
#     song's order, each let go, the channels' program and volume with them;
#   - SIGINT part-way ends it with status 130 and nothing left sounding: every key struck is let
#     go, and each channel used is told All Notes Off and Reset All Controllers after its last note;
#   - an output that is not there fails with its reason.
# Nothing here is timed: bench/midi_out_timing.sh measures how well the notes keep time.
# Exits 77 (skipped) only when no JACK server can be started at all.
# Usage: midi_out_jack.sh DORVIK_MIDI
set -u
tool=$1
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3  # the system's, which has python3-rtmidi
work=$(mktemp -d) || exit 1
cd "$work" || exit 1
. "$here/jack_server.sh"
listener=
player=
cleanup() {
    [ -n "$player" ] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null
    exec 3>&- 2>/dev/null
    [ -n "$listener" ] && { timeout 5 tail --pid="$listener" -f /dev/null || kill "$listener"; wait "$listener"; } 2>/dev/null
    stop_jack
    cd / && rm -rf "$work"
}
trap cleanup EXIT
trap '' PIPE
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! start_jack_midi midiout; then
    echo "SKIP: no JACK server: $jack_failure"
    exit 77
fi

# Starts the instrument; its lines go to $1.
listen() {
    mkfifo listen.in 2>/dev/null
    "$python" "$here/midi_listen.py" <listen.in >"$1" 2>listener.err &
    listener=$!
    exec 3>listen.in
    wait_for "$1" '^ready' || { fail "the instrument did not start: $(cat listener.err)"; exit 1; }
}
# Ends the instrument, which then prints what it received.
unlisten() {
    exec 3>&-
    wait "$listener"
    listener=
}

"$python" "$here/midi_song.py" song.mid --bars 4 >expected.txt || { fail "cannot write the song"; exit 1; }

# Checks what the instrument received ($1) against the song's note-ons: all of them in order
# ($2 = all) or the first of them (some), and that nothing is left sounding.
check() {
    "$python" - "$1" expected.txt "$2" <<'PY'
import sys
got = [line.split() for line in open(sys.argv[1]) if line[0].isdigit()]
expected = [(int(c), int(k)) for _, c, k in (line.split() for line in open(sys.argv[2]))]
ons = [(s & 15, k) for _, s, k, v in ((float(a), int(b), int(c), int(d)) for a, b, c, d in got)
       if s & 0xF0 == 0x90 and v > 0]
if sys.argv[3] == "all" and ons != expected:
    sys.exit(f"expected the song's {len(expected)} note-ons in order, got {len(ons)}: {ons[:8]}...")
# Cut short, what arrived is the song's beginning; how much of it depends on the machine's speed.
if sys.argv[3] == "some" and ons != expected[:len(ons)]:
    sys.exit(f"expected the song's first notes, got {ons[:8]}...")
sounding, lastOn, reset = set(), {}, {}
for i, (_, s, k, v) in enumerate((float(a), int(b), int(c), int(d)) for a, b, c, d in got):
    channel, kind = s & 15, s & 0xF0
    if kind == 0x90 and v > 0:
        sounding.add((channel, k))
        lastOn[channel] = i
    elif kind == 0x80 or kind == 0x90:
        sounding.discard((channel, k))
    elif kind == 0xB0 and k in (121, 123):
        reset.setdefault(channel, set()).add((k, i))
if sounding:
    sys.exit(f"left sounding: {sorted(sounding)}")
for channel, i in lastOn.items():
    after = {k for k, j in reset.get(channel, ()) if j > i}
    if after != {121, 123}:
        sys.exit(f"channel {channel}: no All Notes Off and Reset All Controllers after its last note")
programs = [(int(b), int(c)) for _, b, c, _ in got if int(b) & 0xF0 == 0xC0]
if ons and (0xC1, 0x30) not in programs:
    sys.exit(f"channel 1's program did not arrive: {programs}")
print(f"{len(ons)} notes arrived, nothing left sounding")
PY
}

listen received.txt
"$tool" ports >ports.txt 2>ports.err || fail "ports: status $? ($(cat ports.err))"
grep -qx 'Test piano:in  (output)' ports.txt || fail "ports does not list the instrument as an output: $(cat ports.txt)"

# The whole song.
"$tool" play --midi-out 'piano' song.mid 2>play.err
status=$?
[ "$status" -eq 0 ] || fail "play --midi-out: expected status 0, got $status ($(cat play.err))"
grep -q 'playing song.mid on Test piano:in' play.err || fail "play --midi-out did not say where it plays: $(cat play.err)"
unlisten
result=$(check received.txt all) && echo "whole song: $result" || fail "whole song: $result"

# Ctrl-C part-way, after the first few notes have arrived.
listen received2.txt
"$tool" play --midi-out 'Test piano' song.mid 2>play2.err &
player=$!
wait_for play2.err 'playing' $player || fail "play --midi-out did not start: $(cat play2.err)"
sleep 1
kill -INT $player
wait $player
status=$?
player=
[ "$status" -eq 130 ] || fail "play --midi-out after SIGINT: expected status 130, got $status ($(cat play2.err))"
unlisten
result=$(check received2.txt some) && echo "after SIGINT: $result" || fail "after SIGINT: $result"

# What cannot be played fails with its reason: case | arguments | status | words on standard error
while IFS='|' read -r name args status words; do
    eval "set -- $args"
    "$tool" "$@" 2>case.err
    got=$?
    [ "$got" -eq "$status" ] || fail "$name: expected status $status, got $got ($(cat case.err))"
    grep -qF -- "$words" case.err || fail "$name: expected \"$words\" in: $(cat case.err)"
done <<'ROWS'
no such output|play --midi-out nowhere song.mid|1|no MIDI output's name contains "nowhere"
no song|play --midi-out piano|2|play --midi-out needs a MIDI file
bad speed|play --midi-out piano --speed 300 song.mid|2|--speed takes a percentage from 25 to 200
no such part|play --midi-out piano --mute 9 song.mid|2|--mute 9: song.mid
ROWS

[ "$failures" -eq 0 ]
