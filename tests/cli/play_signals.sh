#!/bin/sh
# dorvik-midi play stops at once on SIGINT and SIGTERM, part way into a ten-second file, and ends
# by the signal, so that the shell sees 128 + its number.
# Usage: play_signals.sh DORVIK_MIDI
set -u
tool=$1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Ten seconds of 44.1 kHz stereo 16-bit silence.
python3 - <<'PY'
import struct
data = 10 * 44100 * 4
with open('ten.wav', 'wb') as f:
    f.write(b'RIFF' + struct.pack('<I', 36 + data) + b'WAVEfmt ' +
            struct.pack('<IHHIIHH', 16, 1, 2, 44100, 44100 * 4, 4, 16) + b'data' + struct.pack('<I', data))
    f.write(bytes(data))
PY

# signal | expected status
while IFS='|' read -r signal status; do
    SDL_AUDIODRIVER=dummy "$tool" play ten.wav 2>err.txt &
    pid=$!
    sleep 1.5
    start=$(date +%s%N)
    kill -s "$signal" $pid
    wait $pid
    got=$?
    took=$((($(date +%s%N) - start) / 1000000))
    [ "$got" -eq "$status" ] || fail "SIG$signal: expected status $status, got $got ($(cat err.txt))"
    [ "$took" -lt 2000 ] || fail "SIG$signal: took $took ms to stop"
done <<ROWS
TERM|143
INT|130
ROWS
[ "$failures" -eq 0 ]
