#!/bin/sh
# dorvik-midi render's normalised output as ffmpeg's EBU R128 meter reads it: each song, a faint
# piano piece and a loud band arrangement, within 1 LU of -16 LUFS with its true peak at most
# -1 dBTP, and no sample at full scale. The raw render's count of samples at full scale is printed
# for the record.
# Usage: render_loudness.sh DORVIK_MIDI MAKE_DEMO_SONG MAKE_BAND_SONG SOUNDFONT
set -u
tool=$1 make_demo=$2 make_band=$3 sf2=$4
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$make_demo" --seconds 20 piano.mid >/dev/null || exit 1
"$make_band" band.mid >/dev/null || exit 1
for song in piano band; do
    "$tool" render --soundfont "$sf2" $song.mid -o $song.wav >/dev/null 2>$song.err ||
        { fail "$song: render failed: $(cat $song.err)"; continue; }
    read -r lufs peak <<MEASURED
$(ffmpeg -hide_banner -nostats -i $song.wav -af ebur128=peak=true -f null - 2>&1 |
    awk '/Summary/ {s = 1} s && /I:/ {i = $2} s && /Peak:/ {p = $2} END {print i, p}')
MEASURED
    awk -v l="$lufs" 'BEGIN { exit !(l >= -17 && l <= -15) }' || fail "$song: $lufs LUFS, not within 1 LU of -16"
    awk -v p="$peak" 'BEGIN { exit !(p <= -1) }' || fail "$song: true peak $peak dBTP, over -1"
    full=$(python3 -c "import sys, array; a = array.array('h'); a.frombytes(open(sys.argv[1], 'rb').read()[44:]); print(sum(1 for x in a if x in (32767, -32768)))" $song.wav)
    [ "$full" -eq 0 ] || fail "$song: $full samples at full scale"
done
"$tool" render --raw --soundfont "$sf2" band.mid -o raw.wav >/dev/null 2>&1 || fail "band: raw render failed"
clipped=$(python3 -c "import sys, array; a = array.array('h'); a.frombytes(open(sys.argv[1], 'rb').read()[44:]); print(sum(1 for x in a if x in (32767, -32768)))" raw.wav)
echo "band: $clipped samples at full scale in the raw render"
[ "$failures" -eq 0 ]
