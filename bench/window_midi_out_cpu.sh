#!/usr/bin/env bash
# Processor use of the player's window while it sends the song to a MIDI instrument, as a share of
# one core, on a virtual display with no GPU, beside the same window playing the same song through
# the SoundFont in the same run (and an idle `sleep` measured alike):
#   - the demo song through the SoundFont, 20 s, in the normal view;
#   - the demo song sent to an instrument on a JACK server (dummy back end, 64-frame periods at
#     48 kHz), chosen as the window's sound, 20 s: the sender's thread wakes for each message, the
#     outputs are looked at twice a second, and the render still runs for the waveform.
# The instrument (tests/cli/midi_listen.py) counts the note-ons it received, so that a run that
# sent nothing cannot pass for a cheap one. Target: at most 12 % of a core, as the window's own.
#
# Usage: bench/window_midi_out_cpu.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
player=${PLAYER:-$build/src/app/dorvik-midi-player}
song=examples/demo_song.mid
sf2=/usr/share/sounds/sf2/default-GM.sf2
python=/usr/bin/python3
[ -x "$player" ] || { echo "window_midi_out_cpu: build $player first" >&2; exit 1; }
for tool in Xvfb xdotool jackd jack_lsp; do
    command -v "$tool" >/dev/null || { echo "window_midi_out_cpu: $tool is not installed (setup.sh)" >&2; exit 1; }
done
"$python" -c 'import rtmidi' 2>/dev/null ||
    { echo "window_midi_out_cpu: python3-rtmidi is not installed (setup.sh)" >&2; exit 1; }

. tests/cli/jack_server.sh
. bench/window_session.sh
listener=
# The server goes before the session's own clean-up, which waits for every child to end.
trap 'exec 3>&- 2>/dev/null || true; stop_jack; cleanup' EXIT
start_jack_midi wincpu || { echo "window_midi_out_cpu: $jack_failure" >&2; exit 1; }

settings() {
    mkdir -p "$XDG_CONFIG_HOME/Dorvik Midi Player"
    printf '[Soundfont] = %s\n%s' "$sf2" "$1" >"$XDG_CONFIG_HOME/Dorvik Midi Player/settings.ini"
}
# The song played for 20 s once its render is complete, so that what is measured is playing alone.
play_and_measure() {
    start_player "$song"
    wait_for_render || true
    sleep 1
    key space
    sleep 2
    measure 20
    kill "$app"
    wait "$app" 2>/dev/null || true
}

settings ""
soundfont=$(play_and_measure)

mkfifo "$work/listen.in"
"$python" tests/cli/midi_listen.py <"$work/listen.in" >"$work/received.txt" &
listener=$!
pids+=("$listener")
exec 3>"$work/listen.in"
wait_for "$work/received.txt" '^ready' || { echo "window_midi_out_cpu: the instrument did not start" >&2; exit 1; }
settings "[Sound output] = Test piano"$'\n'
instrument=$(play_and_measure)
exec 3>&-
wait "$listener" || true
notes=$(awk '$1 ~ /^[0-9]/ && $2 >= 144 && $2 < 160 && $4 > 0 { n++ } END { print n + 0 }' "$work/received.txt")

echo "window on Xvfb (no GPU), demo song in the normal view, share of one core over 20 s"
line "through the SoundFont" $soundfont
line "sent to a MIDI instrument (JACK)" $instrument
echo "note-ons the instrument received: $notes"
awk -v i="${instrument%% *}" -v s="${soundfont%% *}" -v n="$notes" 'BEGIN {
    printf "MIDI instrument over SoundFont: %.2fx; target <= 12 %%: %s\n", (s > 0 ? i / s : 0),
        (n > 0 && i <= 12 ? "met" : (n > 0 ? "NOT met" : "NOT met (nothing was sent)")) }'
