#!/bin/sh
# The window on the desktop's media controls: playerctl, on a session bus of the test's own, finds
# the player, reads its song's title, plays and pauses it, steps to the next song of its folder and
# closes it. Without a session bus the window runs on and says once that it has no media controls.
# Runs on a display of its own inside dbus-run-session; skipped (77) without playerctl.
#
# Usage: dbus-run-session -- sh media_controls.sh DORVIK_MIDI_PLAYER SOUNDFONT SONG.mid
set -u
player=$1 sf2=$2 song=$3
command -v playerctl >/dev/null || { echo "skipped: playerctl is not installed"; exit 77; }
work=$(mktemp -d) || exit 1
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" SDL_AUDIODRIVER=dummy
mkdir -p "$XDG_CONFIG_HOME/Dorvik Midi Player" "$work/songs"
echo "[Soundfont] = $sf2" >"$XDG_CONFIG_HOME/Dorvik Midi Player/settings.ini"
cp "$song" "$work/songs/1 first.mid" && cp "$song" "$work/songs/2 second.mid" || exit 1
failed=0
fail() { echo "FAIL: $*"; failed=1; }
p() { playerctl -p dorvik_midi_player "$@" 2>/dev/null; }
# Waits (up to $patience seconds, for a loaded machine) until `p ARGS` prints what is expected: the
# window answers the bus once per frame, and a song it was asked to open is read first.
patience=20
expect() {
    want=$1
    shift
    deadline=$(($(date +%s) + patience))
    while [ "$(p "$@")" != "$want" ] && [ "$(date +%s)" -lt $deadline ]; do sleep 0.05; done
    got=$(p "$@")
    [ "$got" = "$want" ] || fail "playerctl $*: expected '$want', got '$got'"
}

"$player" "$work/songs/1 first.mid" 2>"$work/err" &
pid=$!
expect '1 first' metadata title
playerctl -l | grep -qx dorvik_midi_player || fail "playerctl does not list the player: $(playerctl -l)"
expect "file://$work/songs/1%20first.mid" metadata xesam:url
expect Stopped status
p play
expect Playing status
# A pause during the second's count-in is dropped, as the window's own keys are: wait for the song.
deadline=$(($(date +%s) + 20))
while [ "$(p position | cut -d. -f1)" = 0 ] && [ "$(date +%s)" -lt $deadline ]; do sleep 0.05; done
p pause
expect Paused status
# The next song loads once the first has rendered: a request made meanwhile waits for it.
p next
patience=90
expect '2 second' metadata title
patience=20
dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.dorvik_midi_player /org/mpris/MediaPlayer2 \
    org.mpris.MediaPlayer2.Quit >/dev/null || fail "Quit was not answered"
deadline=$(($(date +%s) + 10))
while kill -0 "$pid" 2>/dev/null && [ "$(date +%s)" -lt $deadline ]; do sleep 0.05; done
if kill -0 "$pid" 2>/dev/null; then
    fail "the window is still open ten seconds after Quit"
else
    wait "$pid" || fail "the window ended with status $? after Quit"
fi
pid=""
grep -q 'no media controls' "$work/err" && fail "the window said it has no media controls: $(cat "$work/err")"

# No session bus: the window plays on without media controls, and says so once.
DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" DORVIK_EXIT_AFTER_FRAMES=20 "$player" 2>"$work/err" ||
    fail "without a session bus the window ended with status $?"
[ "$(grep -c 'no media controls' "$work/err")" -eq 1 ] || fail "without a bus, expected one line, got: $(cat "$work/err")"
exit $failed
