#!/bin/sh
# dorvik-midi batch as a user meets it, over a folder of good songs, a nested folder and bad files:
#   report     every file has one JSON line, the good ones an output, the bad ones a reason; status 1
#   resume     a second run keeps complete outputs; a song changed since is made again
#   interrupt  SIGINT or SIGTERM part way: the status a shell expects, no unfinished file, and a
#              second run completes what was left
#   shard      three slices run by GNU parallel give the same outputs as one run, each file once
#   export     WAV files in, FLAC files out
#   usage      what cannot be asked for is a usage error before anything runs
# Every check says what it expected.
# Usage: batch.sh DORVIK_MIDI MAKE_DEMO_SONG SOUNDFONT TABLE
set -u
tool=$1 make_song=$2 sf2=$3 table=$4
. "$(dirname "$0")/case_folder.sh"

# songs/: two good songs at the top (one with a name JSON must escape), two in nested folders,
# a file that is no MIDI file, one with no notes, and a text file the batch must pass over.
mkdir -p songs/album/disc2
"$make_song" --seconds 1 songs/one.mid >/dev/null || exit 1
"$make_song" --seconds 2 'songs/two "quoted".MID' >/dev/null || exit 1
"$make_song" --seconds 1 songs/album/three.kar >/dev/null || exit 1
"$make_song" --seconds 1 songs/album/disc2/four.midi >/dev/null || exit 1
printf 'RIFF0000' >songs/bad.mid
printf 'MThd\000\000\000\006\000\000\000\001\001\340MTrk\000\000\000\004\000\377\057\000' >songs/album/silent.mid
echo notes >songs/readme.txt
good=4 bad=2

batch() { "$tool" batch render --soundfont "$sf2" "$@"; }

# Checks that every line of the report is JSON with the five fields, and prints "status input" per line.
statuses() {
    python3 -c '
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    r = json.loads(line)
    assert sorted(r) == ["input", "output", "reason", "seconds", "status"], r
    assert (r["reason"] is None) == (r["status"] == "done"), r
    print(r["status"], r["input"])
' "$1" | sort
}
count() { statuses "$1" | grep -c "^$2 "; }
# The outputs as "name size checksum", and any unfinished file a writer left.
outputs() { (cd "$1" && find . -type f -exec cksum {} + | sort -k3); }
leftovers() { find "$1" -name '.*' | wc -l; }

report() {
    batch -o out songs >report.jsonl 2>report.err
    status=$?
    [ "$status" -eq 1 ] || fail "report: expected status 1 with bad files, got $status"
    [ "$(wc -l <report.jsonl)" -eq $((good + bad)) ] || fail "report: expected $((good + bad)) lines, got: $(cat report.jsonl)"
    [ "$(count report.jsonl done)" -eq $good ] || fail "report: expected $good done: $(statuses report.jsonl)"
    [ "$(count report.jsonl failed)" -eq $bad ] || fail "report: expected $bad failed: $(statuses report.jsonl)"
    grep -q '"input": "songs/bad.mid", "output": null, "status": "failed", "reason": "songs/bad.mid: Not a MIDI file"' report.jsonl ||
        fail "report: bad.mid's line should carry the reason: $(grep bad.mid report.jsonl)"
    grep -q 'songs/album/silent.mid has no notes' report.jsonl || fail "report: the silent song's reason is missing"
    for f in one.wav 'two "quoted".wav' album/three.wav album/disc2/four.wav; do
        [ -s "out/$f" ] || fail "report: expected out/$f"
    done
    [ "$(find out -type f | wc -l)" -eq $good ] || fail "report: expected only $good outputs: $(find out -type f)"
    # The outputs are what render writes for each song by hand.
    "$tool" render --soundfont "$sf2" songs/album/three.kar -o three.wav >/dev/null
    cmp -s three.wav out/album/three.wav || fail "report: the batch's output differs from render's"
    grep -q 'songs/bad.mid: Not a MIDI file' report.err || fail "report: standard error should name the failures"
}

resume() {
    batch -o out songs >first.jsonl 2>/dev/null
    sleep 1  # the file times must tell the song's change from the outputs
    "$make_song" --seconds 2 songs/one.mid >/dev/null
    before=$(outputs out | grep -v one.wav)
    batch -o out songs >second.jsonl 2>/dev/null
    [ "$(count second.jsonl skipped)" -eq $((good - 1)) ] || fail "resume: expected $((good - 1)) skipped: $(statuses second.jsonl)"
    grep -q '"input": "songs/one.mid", .*"status": "done"' second.jsonl || fail "resume: the changed song was not made again"
    [ "$(outputs out | grep -v one.wav)" = "$before" ] || fail "resume: a kept output was rewritten"
    [ "$(count second.jsonl failed)" -eq $bad ] || fail "resume: the bad files should fail again"
}

# name | signal | sent to the batch alone (pid) or its whole process group (group), as a terminal does
interrupt() {
    "$make_song" --seconds 120 songs/long.mid >/dev/null || exit 1
    while IFS='|' read -r name signal target expected; do
        rm -rf out
        # One job at a time, in order: the signal comes once the first song is done, during the next.
        # The batch leads a process group of its own, as a shell with job control would start it.
        rm -f cut.jsonl
        python3 -c 'import os, sys; os.setpgid(0, 0); os.execv(sys.argv[1], sys.argv[1:])' "$tool" batch render \
            --soundfont "$sf2" --jobs 1 -o out songs/one.mid songs/long.mid songs/album >cut.jsonl 2>cut.err &
        pid=$!
        tries=0
        while [ ! -s cut.jsonl ] && [ $tries -lt 600 ]; do sleep 0.05; tries=$((tries + 1)); done
        if [ "$target" = group ]; then kill -s "$signal" -- "-$pid"; else kill -s "$signal" "$pid"; fi
        wait $pid
        status=$?
        [ "$status" -eq "$expected" ] || fail "$name: expected status $expected, got $status ($(cat cut.err))"
        grep -q '"input": "songs/long.mid", .*"status": "interrupted"' cut.jsonl ||
            fail "$name: the song under way should be reported as interrupted: $(cat cut.jsonl)"
        [ ! -e out/long.wav ] || fail "$name: an interrupted output was left"
        [ "$(leftovers out)" -eq 0 ] || fail "$name: unfinished files were left: $(find out -name '.*')"
        [ "$(wc -l <cut.jsonl)" -eq 2 ] || fail "$name: expected the done and the interrupted song only: $(cat cut.jsonl)"
        batch --jobs 1 -o out songs/one.mid songs/long.mid songs/album >again.jsonl 2>/dev/null
        grep -q '"input": "songs/one.mid", .*"status": "skipped"' again.jsonl || fail "$name: the done song was made again"
        [ -s out/long.wav ] || fail "$name: the second run did not complete the interrupted song"
    done <<ROWS
SIGINT to the batch|INT|pid|130
SIGINT from the terminal|INT|group|130
SIGTERM to the batch|TERM|pid|143
ROWS
}

shard() {
    batch --jobs 2 -o whole songs >whole.jsonl 2>/dev/null
    parallel --will-cite -j 3 "'$tool'" batch render --soundfont "'$sf2'" --jobs 1 --shard {}/3 -o sliced songs \
        ::: 1 2 3 >sliced.jsonl 2>/dev/null
    [ "$(outputs sliced)" = "$(outputs whole)" ] || fail "shard: the slices' outputs differ from one run's"
    [ "$(statuses sliced.jsonl)" = "$(statuses whole.jsonl)" ] ||
        fail "shard: the slices should report each file once, as one run does: $(statuses sliced.jsonl)"
    for k in 1 2 3; do
        batch --shard $k/3 -o "part$k" songs >"part$k.jsonl" 2>/dev/null
    done
    # The test shows a split only if the files do split.
    slices=0
    for k in 1 2 3; do [ -s "part$k.jsonl" ] && slices=$((slices + 1)); done
    [ $slices -ge 2 ] || fail "shard: expected the files in at least two slices, got $slices"
    [ "$(cat part1.jsonl part2.jsonl part3.jsonl | statuses /dev/stdin)" = "$(statuses whole.jsonl)" ] ||
        fail "shard: the slices run one after another should add up to the whole"
}

export_wavs() {
    batch -o wavs songs/one.mid songs/album >/dev/null 2>&1
    "$tool" batch export --format flac --quality high -o flacs wavs >flacs.jsonl 2>flacs.err
    status=$?
    [ "$status" -eq 0 ] || fail "export: expected status 0, got $status ($(cat flacs.err))"
    for f in one three disc2/four; do
        codec=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "flacs/$f.flac" 2>/dev/null)
        [ "$codec" = flac ] || fail "export: expected flacs/$f.flac in FLAC, got '$codec'"
    done
}

# arguments | what standard error must say
usage() {
    while IFS='|' read -r args says; do
        # shellcheck disable=SC2086
        "$tool" batch $args >usage.out 2>usage.err
        status=$?
        [ "$status" -eq 2 ] || fail "usage '$args': expected status 2, got $status"
        grep -q -- "$says" usage.err || fail "usage '$args': expected '$says' in: $(head -n1 usage.err)"
        [ ! -s usage.out ] || fail "usage '$args': standard output should stay empty"
    done <<ROWS
|needs a command
play songs -o out|not play
render --soundfont $sf2 songs|needs -o OUTDIR
render --soundfont $sf2 -o out|needs files or folders
render --soundfont $sf2 --shard 4/3 -o out songs|--shard takes K/N
render --soundfont $sf2 --shard 0/3 -o out songs|--shard takes K/N
render --soundfont $sf2 --jobs 0 -o out songs|--jobs takes
export -o out songs|needs --format
export --format wma -o out songs|--format takes
video --soundfont $sf2 --dump-raw x.yuv -o out songs|does not take --dump-raw
render --soundfont $sf2 --bogus -o out songs|does not take --bogus
ROWS
    [ ! -e out ] || fail "usage: a usage error made the output folder"
}

case $table in
report) report ;;
resume) resume ;;
interrupt) interrupt ;;
shard) shard ;;
export) export_wavs ;;
usage) usage ;;
*) echo "unknown table $table" && exit 2 ;;
esac
passed || exit 1
echo "batch $table: all checks passed"
