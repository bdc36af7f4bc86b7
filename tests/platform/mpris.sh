#!/bin/sh
# The media controls as the desktop drives them: playerctl against the stand-in player on a session
# bus of the test's own. Run inside dbus-run-session. Every request is checked by its effect on what
# playerctl reads back, and by the stand-in's own log of what reached it.
#
# Usage: dbus-run-session -- sh mpris.sh MPRIS_STAND_IN
set -u
stand_in=$(realpath "$1")
command -v playerctl >/dev/null || { echo "playerctl is not installed"; exit 77; }
work=$(mktemp -d) || exit 1
cd "$work" || exit 1
pids=""
trap 'for p in $pids; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }
p() { playerctl -p dorvik_midi_player "$@" 2>/dev/null; }
# Waits (up to ten seconds) until `p ARGS` prints what is expected; the stand-in answers at its next
# frame, and the bus carries the answer in its own time.
expect() {
    want=$1
    shift
    tries=0
    while [ "$(p "$@")" != "$want" ] && [ $tries -lt 200 ]; do sleep 0.05; tries=$((tries + 1)); done
    got=$(p "$@")
    [ "$got" = "$want" ] || fail "playerctl $*: expected '$want', got '$got'"
}
started() {
    tries=0
    while ! grep -q '^ready ' "$1" && [ $tries -lt 200 ]; do sleep 0.05; tries=$((tries + 1)); done
    grep -q '^ready ' "$1"
}

"$stand_in" "$work/first song.mid" "$work/second.mid" >log 2>err &
pids="$!"
started log || { fail "the stand-in did not start: $(cat err)"; exit 1; }
grep -qx 'ready org.mpris.MediaPlayer2.dorvik_midi_player' log || fail "unexpected bus name: $(head -n1 log)"
playerctl -l | grep -qx dorvik_midi_player || fail "playerctl does not list the player: $(playerctl -l)"

expect 'first song' metadata title
expect Stopped status
expect "file://$(echo "$work" | sed 's/ /%20/g')/first%20song.mid" metadata xesam:url
expect 60000000 metadata mpris:length
p play; expect Playing status
p pause; expect Paused status
p play-pause; expect Playing status
# Paused, the controls read the position as it is; playing, they would run it on with their clock.
p play-pause; expect Paused status
p position 10; expect 10.000000 position
p position 5+; expect 15.000000 position
p position 20-; expect 0.000000 position  # before the start is the start
p volume 0.5; expect 0.500000 volume
p volume 7; expect 1.000000 volume  # the slider's top
p next; expect second metadata title
expect 0.000000 position
p next; expect second metadata title  # the last song has no next
p previous; expect 'first song' metadata title
p stop; expect Stopped status
p open "file://$work/a%20b.mid"; expect 'a b' metadata title
grep -qx "open $work/a b.mid" log || fail "open: expected the decoded path in: $(cat log)"
for line in 'command Play' 'command Pause' 'command PlayPause' 'seek 10.000' 'seek 15.000' 'seek 0.000' \
    'volume 0.500' 'volume 1.000' 'command Next' 'command Previous' 'command Stop'; do
    grep -qx "$line" log || fail "the stand-in was not asked '$line': $(cat log)"
done

# A second player takes a name of its own beside the first.
"$stand_in" "$work/other.mid" >log2 2>err2 &
pids="$pids $!"
started log2 || fail "a second stand-in did not start: $(cat err2)"
grep -qx "ready org.mpris.MediaPlayer2.dorvik_midi_player.instance$!" log2 || fail "second name: $(head -n1 log2)"
[ "$(playerctl -l | grep -c '^dorvik_midi_player')" -eq 2 ] || fail "expected two players: $(playerctl -l)"

# Quit ends the player.
first=${pids%% *}
dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.dorvik_midi_player /org/mpris/MediaPlayer2 \
    org.mpris.MediaPlayer2.Quit >/dev/null || fail "Quit was not answered"
wait "$first"; status=$?
[ $status -eq 0 ] || fail "the stand-in ended with $status after Quit"
exit $failed
