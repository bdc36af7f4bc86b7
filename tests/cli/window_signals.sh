#!/bin/sh
# The window ends promptly on SIGTERM while it renders a file that FluidSynth would play for ever
# and while an error box is open, leaves no box behind when it is killed outright, and removes its
# render file as it goes. Runs on a display of its own (run_under_xvfb.sh); skipped (77) where no
# message box can be shown.
# Usage: window_signals.sh DORVIK_MIDI_PLAYER SOUNDFONT
set -u
player=$1 sf2=$2
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" SDL_AUDIODRIVER=dummy
mkdir -p "$XDG_CONFIG_HOME/Dorvik Midi Player"
echo "[Soundfont] = $sf2" > "$XDG_CONFIG_HOME/Dorvik Midi Player/settings.ini"
printf 'RIFF0000' > "$work/bad.mid"
# One note, then a tempo event read as days of silence by FluidSynth's player.
printf 'MThd\000\000\000\006\000\000\000\001\001\340MTrk\000\000\000\027\000\220\074\100\203\140\200\074\100\377\377\377\177\377\121\003\007\241\040\000\377\057\000' > "$work/endless.mid"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Waits up to ten seconds for a condition; false if it never held.
within() { i=0; while ! eval "$1"; do i=$((i + 1)); [ $i -gt 100 ] && return 1; sleep 0.1; done; }
rendering() { ls "$XDG_CACHE_HOME/dorvik-midi-player" 2>/dev/null | grep -q '^render-'; }
# The error box is the desktop's own, a window of the player's titled "Error"; where that cannot be
# shown, SDL's box is a child process of the player's.
box_open() { xdotool search --name '^Error$' >/dev/null 2>&1 || pgrep -P "$pid" >/dev/null; }
# Gone, or a zombie that only waits to be reaped.
gone() { ! ps -o stat= -p "$1" 2>/dev/null | grep -qv Z; }

# name | song | what must be there before the signal | signal
while IFS='|' read -r name song ready signal; do
    "$player" "$work/$song" 2>/dev/null &
    pid=$!
    if ! within "$ready"; then
        kill -KILL $pid
        if [ "$song" = bad.mid ]; then echo "skipped: no message box can be shown here"; exit 77; fi
        fail "$name: never got ready"
        continue
    fi
    box=$(pgrep -P $pid)
    kill -s "$signal" $pid
    within "gone $pid" || fail "$name: still running ten seconds after SIG$signal"
    wait $pid 2>/dev/null
    for child in $box; do within "gone $child" || fail "$name: the box outlived the player"; done
    within "! box_open" || fail "$name: the box is still on the screen"
    if [ "$signal" = TERM ] && rendering; then
        fail "$name: the render file was left behind"
    fi
done <<ROWS
SIGTERM while rendering without end|endless.mid|rendering|TERM
SIGTERM while an error box is open|bad.mid|box_open|TERM
SIGKILL while an error box is open|bad.mid|box_open|KILL
ROWS
[ "$failures" -eq 0 ]
