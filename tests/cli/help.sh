#!/bin/sh
# Help and usage errors of both programs, as a shell user meets them: every command's --help and
# -h print its usage on standard output with status 0, from either program; a usage error is the
# problem on one line and a pointer to the command's help, status 2; an unknown option is never
# taken for a file.
#
# Usage: help.sh DORVIK_MIDI DORVIK_MIDI_MEDIA DORVIK_MIDI_PLAYER
set -u
tool=$(realpath "$1") media=$(realpath "$2") player=$(realpath "$3")
cd "$(mktemp -d)" || exit 1
trap 'rm -rf "$PWD"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

for program in "$tool" "$media"; do
    for command in info render play export video batch ports record; do
        for flag in --help -h; do
            "$program" $command $flag >out 2>err
            status=$?
            [ $status -eq 0 ] || fail "$command $flag: expected status 0, got $status"
            head -n1 out | grep -q "^usage: dorvik-midi $command" ||
                fail "$command $flag: expected its usage first, got: $(head -n1 out)"
            grep -q -- '--help' out || fail "$command $flag: its help does not list --help"
            [ ! -s err ] || fail "$command $flag: standard error should stay empty: $(cat err)"
        done
    done
done
# The help of a command is asked for after other arguments too, and through `help COMMAND`.
"$tool" render x.mid --bogus --help >out && grep -q '^usage: dorvik-midi render' out ||
    fail "render x.mid --bogus --help: expected render's help"
"$tool" help video >out && grep -q '^usage: dorvik-midi video' out || fail "help video: expected video's help"
# A title that happens to read -h is the title, not a request for help.
"$tool" video --title -h 2>err >out; status=$?
[ $status -eq 2 ] && [ ! -s out ] || fail "video --title -h: expected a usage error, got $status: $(cat out)"
"$tool" --help >out && grep -q '^usage: dorvik-midi COMMAND' out && grep -q 'render' out ||
    fail "--help: expected the overview"

# Usage errors: status 2, the problem on the first line, the pointer on the second, nothing more.
while IFS='|' read -r args says pointer; do
    # shellcheck disable=SC2086
    "$tool" $args >out 2>err
    status=$?
    [ $status -eq 2 ] || fail "'$args': expected status 2, got $status"
    [ "$(wc -l <err)" -eq 2 ] || fail "'$args': expected two lines on standard error, got: $(cat err)"
    head -n1 err | grep -q -- "^dorvik-midi: .*$says" || fail "'$args': expected '$says', got: $(head -n1 err)"
    [ "$(sed -n 2p err)" = "see $pointer --help" ] || fail "'$args': expected the pointer '$pointer', got: $(sed -n 2p err)"
done <<'CASES'
frobnicate|unknown command frobnicate|dorvik-midi
render --frob x.mid|unknown option --frob|dorvik-midi render
export x.wav|needs -o|dorvik-midi export
video --soundfont a.sf2 x.mid -o x.avi|must end in .mp4|dorvik-midi video
batch render --soundfont a.sf2 -o out|files or folders|dorvik-midi batch
batch convert|not convert|dorvik-midi batch
info a.mid b.mid|one MIDI file|dorvik-midi info
help nothing|unknown command nothing|dorvik-midi
CASES

# The window's program refuses what it does not know before it opens any window.
"$player" --frob >out 2>err; status=$?
[ $status -eq 2 ] || fail "player --frob: expected status 2, got $status"
[ "$(cat err)" = "dorvik-midi-player: unknown option --frob
see dorvik-midi-player --help" ] || fail "player --frob: got: $(cat err)"
"$player" a.mid b.mid 2>/dev/null; [ $? -eq 2 ] || fail "player with two files: expected status 2"
"$player" --help >out 2>err && head -n1 out | grep -q '^usage: dorvik-midi-player' && [ ! -s err ] ||
    fail "player --help: expected its usage on standard output"
exit $failed
