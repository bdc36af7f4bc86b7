#!/bin/sh
# dorvik-midi where a user's own files meet its outputs, in tables:
#   export     an export whose output is its input, by any name, is refused and the input kept
#   times      a time (or a score's part) out of range is refused in plain words; messages name
#              the user's song
#   batch      a batch never takes its outputs for its inputs nor calls complete an output made
#              with other options, and runs no more jobs than the open-file limit allows
# Every check says what it expected.
# Usage: edge_cases.sh DORVIK_MIDI MAKE_DEMO_SONG SOUNDFONT TABLE
set -u
tool=$1 make_song=$2 sf2=$3 table=$4
. "$(dirname "$0")/case_folder.sh"
# A 3-second take of noise, as a recording would be.
ffmpeg -v error -y -f lavfi -i anoisesrc=d=3:a=0.3 -ac 2 -c:a pcm_s16le -map_metadata -1 -fflags +bitexact \
    -flags +bitexact take.wav || exit 1

# name | how to prepare | -o | more arguments
export_table() {
    while IFS='|' read -r name prepare out more; do
        rm -rf case && mkdir case && cp take.wav case/ && cd case || exit 1
        sh -c "$prepare"
        eval "set -- $more"
        "$tool" export take.wav -o "$out" "$@" >/dev/null 2>../last.err
        got=$?
        [ "$got" -eq 1 ] || fail "$name: expected status 1, got $got ($(cat ../last.err))"
        grep -q 'file being exported from' ../last.err || fail "$name: expected the reason, got: $(cat ../last.err)"
        cmp -s take.wav ../take.wav || fail "$name: the take was changed"
        [ -z "$(ls -A | grep dorvik)" ] || fail "$name: left $(ls -A | grep dorvik)"
        cd .. || exit 1
    done <<ROWS
a part over itself||take.wav|--from 1 --to 2
a whole copy over itself||take.wav|
a part through a link|ln -s take.wav link.wav|link.wav|--from 1 --to 2
a part through a hard link|ln take.wav hard.wav|hard.wav|--from 1
a part through ..|mkdir sub|sub/../take.wav|--to 1
another format through a link|ln -s take.wav link.ogg|link.ogg|--from 1 --to 2
ROWS
}

# name | arguments | status | words expected | words that must not appear
times_table() {
    "$make_song" --seconds 2 song.mid >/dev/null || exit 1
    while IFS='|' read -r name args status words never; do
        eval "set -- $args"
        "$tool" "$@" >/dev/null 2>last.err
        got=$?
        [ "$got" -eq "$status" ] || fail "$name: expected status $status, got $got ($(cat last.err))"
        grep -qF "$words" last.err || fail "$name: expected \"$words\" in: $(cat last.err)"
        ! grep -qF "$never" last.err || fail "$name: \"$never\" in: $(cat last.err)"
    done <<ROWS
export from far past any end|export take.wav -o cut.wav --from 99999999999999999999|2|later than any song lasts|-1
export to far past any end|export take.wav -o cut.wav --to 1e3000|2|--to takes seconds|-1
render from far past any end|render --soundfont $sf2 song.mid -o out.wav --from 9999999999:00|2|later than any song lasts|-1
a video part without sound|video --soundfont $sf2 song.mid -o part.mp4 --size 320x180 --from 0 --to 0.00001|1|song.mid|/proc/self
a score of a part the song lacks|score song.mid --output part.musicxml --part 3|2|has no such part (it is read as two hands|unknown option
a video's score of a part the song lacks|video --soundfont $sf2 song.mid -o part.mp4 --score --part 3|2|has no such part (it is read as two hands|unknown option
a video's part without its score|video --soundfont $sf2 song.mid -o part.mp4 --part 1|2|--part chooses the parts --score shows|unknown option
a score of parts, one the song lacks|score song.mid --output part.musicxml --part 1,2 --part 5|2|--part 5: song.mid has no such part (it is read as two hands: 1 and 2)|unknown option
a video's score of parts, one the song lacks|video --soundfont $sf2 song.mid -o part.mp4 --score --part 2,3|2|--part 3: song.mid has no such part (it is read as two hands: 1 and 2)|unknown option
a score of a list that is no list|score song.mid --output part.musicxml --part 1,,2|2|--part takes parts from 1, split by commas (2,5), not 1,,2|unknown option
ROWS
}

count() { grep -c "\"status\": \"$2\"" "$1"; }

batch_table() {
    mkdir wavs
    for i in 1 2 3; do cp take.wav "wavs/take$i.wav"; done
    # The output folder is the input folder: every file is refused and none is cut.
    "$tool" batch export --format wav --to 1 -o wavs wavs >self.jsonl 2>self.err
    got=$?
    [ "$got" -eq 1 ] || fail "outputs over inputs: expected status 1, got $got ($(cat self.err))"
    [ "$(count self.jsonl failed)" -eq 3 ] || fail "outputs over inputs: expected 3 failed: $(cat self.jsonl)"
    grep -q 'its output would replace it' self.jsonl || fail "outputs over inputs: no reason: $(cat self.jsonl)"
    for i in 1 2 3; do cmp -s "wavs/take$i.wav" take.wav || fail "outputs over inputs: take$i.wav was changed"; done

    # Made with other options, an output is made again; with the same ones, it is complete.
    # name | options | expected done | expected skipped
    while IFS='|' read -r name options done skipped; do
        eval "set -- $options"
        "$tool" batch export --format wav -o cuts "$@" wavs >run.jsonl 2>run.err
        [ "$(count run.jsonl done)" -eq "$done" ] && [ "$(count run.jsonl skipped)" -eq "$skipped" ] ||
            fail "$name: expected $done done and $skipped skipped: $(cat run.jsonl) $(cat run.err)"
    done <<'ROWS'
first run|--to 1|3|0
the same again|--to 1|0|3
another range|--to 2|3|0
the whole song|--from 0|3|0
ROWS
    # The last run's outputs are whole songs, where the first run's were a second long.
    [ "$(stat -c %s cuts/take1.wav)" -gt $(($(stat -c %s take.wav) * 9 / 10)) ] ||
        fail "the whole song's output is not the whole song"

    # More jobs than the open-file limit leaves room for: fewer run, and every good song is done.
    mkdir many
    for i in $(seq 1 40); do cp take.wav "many/take$i.wav"; done
    (ulimit -n 24 && "$tool" batch export --format wav --to 0.5 --jobs 40 -o manyout many >many.jsonl 2>many.err)
    got=$?
    [ "$got" -eq 0 ] || fail "jobs past the file limit: expected status 0, got $got ($(head -3 many.err))"
    [ "$(count many.jsonl done)" -eq 40 ] || fail "jobs past the file limit: expected 40 done: $(grep -v done many.jsonl | head -3)"
    grep -q 'as many as the open-file limit allows' many.err || fail "jobs past the file limit: not said: $(cat many.err)"
}

"${table}_table"
passed
