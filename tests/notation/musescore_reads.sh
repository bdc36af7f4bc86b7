#!/bin/sh
# The MusicXML that `score` writes opens in a notation program: MuseScore 3 converts each file to
# PDF without a single error, for a two-hand song of every shape the notation handles, the demo
# piece and a band song read by voices (its piano part, a part chosen by number, and several parts
# chosen, each written as a part of its own).
# Usage: musescore_reads.sh DORVIK_MIDI MAKE_SCORE_CASES MAKE_DEMO_SONG MAKE_BAND_SONG
set -eu
dorvik=$1 cases=$2 demo=$3 band=$4
if ! command -v musescore3 >/dev/null 2>&1; then
    echo "FAIL: musescore3 is not installed; ./setup.sh installs it, and this test needs it" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$cases" cases.mid
"$demo" --seconds 20 demo.mid
"$band" band.mid
"$dorvik" score cases.mid -o cases.musicxml
"$dorvik" score demo.mid -o demo.musicxml
"$dorvik" score band.mid -o band.musicxml
"$dorvik" score band.mid --part 2 -o band2.musicxml
"$dorvik" score band.mid --part 1,3 --part 2,8 -o bands.musicxml
[ "$(grep -c '<score-part ' bands.musicxml)" -eq 4 ] || { echo "FAIL: bands.musicxml is not four parts" >&2; exit 1; }
printf '[' >job.json
sep=
for f in cases demo band band2 bands; do
    printf '%s{"in": "%s/%s.musicxml", "out": "%s/%s.pdf"}' "$sep" "$work" "$f" "$work" "$f" >>job.json
    sep=,
done
printf ']\n' >>job.json
# Headless: Qt's offscreen platform needs no display; its own settings and caches go to the scratch folder.
status=0
HOME="$work" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen musescore3 -j job.json >musescore.log 2>&1 || status=$?
if [ "$status" -ne 0 ] || grep -qi 'error' musescore.log; then
    echo "FAIL: musescore3 exited with $status" >&2
    cat musescore.log >&2
    exit 1
fi
for f in cases demo band band2 bands; do
    if [ ! -s "$f.pdf" ] || ! head -c 5 "$f.pdf" | grep -q '%PDF-'; then
        echo "FAIL: musescore3 wrote no PDF for $f.musicxml" >&2
        cat musescore.log >&2
        exit 1
    fi
done
echo "musescore3 read all five scores"
