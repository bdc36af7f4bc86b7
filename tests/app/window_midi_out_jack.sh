#!/bin/bash
# The window playing a song on a MIDI instrument through a real MIDI system: a JACK server of its
# own on the dummy back end, the instrument a second client of it (midi_listen.py), chosen as the
# window's sound in its settings. Space plays a short song with chords, two channels and a tempo
# change from its start: a bar is counted in on the instrument's wood blocks (the first accented),
# then every note-on of the song must arrive in its order, and once the song is over and the window
# is told to end (SIGTERM), nothing may be left sounding. Nothing here is timed: the song is given
# ten seconds more than its length to come through (its bar counted in, and a busy machine's slow
# start).
# Runs on a display of its own (run_under_xvfb.sh); exits 77 (skipped) only when no JACK server
# can be started at all.
# Usage: window_midi_out_jack.sh DORVIK_MIDI_PLAYER SOUNDFONT
set -u
player=$1 sf2=$2
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3  # the system's, which has python3-rtmidi
work=$(mktemp -d) || exit 1
. "$here/../cli/jack_server.sh"
app=
listener=
cleanup() {
    [ -n "$app" ] && kill -KILL "$app" 2>/dev/null && wait "$app" 2>/dev/null
    exec 3>&- 2>/dev/null
    [ -n "$listener" ] && { timeout 5 tail --pid="$listener" -f /dev/null || kill "$listener"; wait "$listener"; } 2>/dev/null
    stop_jack
    rm -rf "$work"
}
trap cleanup EXIT
if ! start_jack_midi window; then
    echo "skipped: no JACK server: $jack_failure"
    exit 77
fi
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data" SDL_AUDIODRIVER=dummy
mkdir -p "$XDG_CONFIG_HOME/Dorvik Midi Player"
printf '[Soundfont] = %s\n[Sound output] = Test piano\n' "$sf2" >"$XDG_CONFIG_HOME/Dorvik Midi Player/settings.ini"
"$python" "$here/../cli/midi_song.py" "$work/song.mid" --bars 2 >"$work/expected.txt" || { echo "FAIL: cannot write the song"; exit 1; }

mkfifo "$work/listen.in"
"$python" "$here/../cli/midi_listen.py" <"$work/listen.in" >"$work/received.txt" 2>"$work/listener.err" &
listener=$!
exec 3>"$work/listen.in"
wait_for "$work/received.txt" '^ready' || { echo "FAIL: the instrument did not start: $(cat "$work/listener.err")"; exit 1; }

"$player" "$work/song.mid" 2>"$work/player.err" &
app=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name "Dorvik Midi Player" | head -n1)
[ -n "$window" ] || { echo "FAIL: no window: $(cat "$work/player.err")"; exit 1; }
xdotool windowfocus --sync "$window"
# Played once the render has begun: a key pressed before the song is loaded does nothing.
for _ in $(seq 1 200); do
    find "$XDG_CACHE_HOME" -name '*.wav' -size +1k 2>/dev/null | grep -q . && break
    sleep 0.1
done
sleep 0.5
xdotool key --clearmodifiers space
sleep "$(awk 'END { print $1 + 10 }' "$work/expected.txt")"
kill -TERM "$app"
timeout 10 tail --pid="$app" -f /dev/null || echo "FAIL: the window was still running ten seconds after SIGTERM"
wait "$app" 2>/dev/null
app=
exec 3>&-
wait "$listener"
listener=

"$python" - "$work/received.txt" "$work/expected.txt" <<'PY'
import sys
lines = [line.split() for line in open(sys.argv[1]) if line[0].isdigit()]
got = [tuple(int(x) for x in fields[1:]) for fields in lines]
struck = [float(fields[0]) for fields in lines if int(fields[1]) & 0xF0 == 0x90 and int(fields[3]) > 0]
expected = [(int(c), int(k)) for _, c, k in (line.split() for line in open(sys.argv[2]))]
ons = [(s & 15, k) for s, k, v in got if s & 0xF0 == 0x90 and v > 0]
clicks = []
while ons and ons[0][0] == 9 and ons[0][1] in (76, 77):
    clicks.append(ons.pop(0))
if len(clicks) < 2 or clicks[0] != (9, 76) or set(clicks[1:]) != {(9, 77)}:
    sys.exit(f"FAIL: expected a bar counted in on the wood blocks (76, then 77s) before the song; got {clicks}")
if ons != expected:
    sys.exit(f"FAIL: expected the song's {len(expected)} note-ons in order: {expected}\ngot {len(ons)}: {ons}")
sounding = set()
for s, k, v in got:
    channel, kind = s & 15, s & 0xF0
    if kind == 0x90 and v > 0:
        sounding.add((channel, k))
    elif kind in (0x80, 0x90):
        sounding.discard((channel, k))
    elif kind == 0xB0 and k == 123:
        sounding = {n for n in sounding if n[0] != channel}
if sounding:
    sys.exit(f"FAIL: left sounding: {sorted(sounding)}")
# Told, not judged (a busy machine may be late): the beats of the bar and the song's first note
# after the last, at the song's 120 quarters a minute every 500 ms.
beats = [round((b - a) * 1000) for a, b in zip(struck, struck[1 : len(clicks) + 1])]
print(f"{len(clicks)} clicks counted in, ms apart then to the song's first note: {beats}")
print(f"{len(ons)} notes arrived in order, nothing left sounding")
PY
