#!/bin/bash
# Play-along in the window's controller with a keyboard on a real MIDI system: a JACK server of its
# own on the dummy back end, the keyboard a second client of it. Exits 77 (skipped) only when no
# JACK server can be started at all.
# Usage: play_along_jack.sh APP_CONTROLLER_TESTS
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../cli/jack_server.sh"
if ! start_jack along; then
    echo "skipped: $jack_failure"
    exit 77
fi
out=$(DORVIK_TEST_JACK=1 DORVIK_MIDI_API=jack "$1" --gtest_filter='PracticeTest.PlaysAlongOnAKeyboardThroughJack' 2>&1)
status=$?
stop_jack
echo "$out"
# A test that skipped itself has shown nothing.
if grep -q '\[  SKIPPED \]' <<<"$out"; then
    echo "FAILED: the test skipped itself"
    exit 1
fi
exit $status
