#!/bin/sh
# The manual pages made from the help texts, and the bash completion, as a user meets them: each
# command has its section in dorvik-midi(1), the page reads without warnings, and completion offers
# commands, options and option values. Skipped where help2man or bash-completion is missing.
#
# Usage: man_and_completion.sh BUILD_DIR SOURCE_DIR
set -u
build=$1 source=$2
command -v help2man >/dev/null && [ -f /usr/share/bash-completion/bash_completion ] || exit 77
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

"$source/tools/make_man_pages.sh" "$build" "$work" || { echo "FAIL: the pages were not made"; exit 1; }
MANWIDTH=100 man -l "$work/dorvik-midi.1" >"$work/page" 2>"$work/err" || fail "man could not read dorvik-midi.1"
[ ! -s "$work/err" ] || fail "man warned: $(cat "$work/err")"
for command in info render play export video score progress batch ports record; do
    grep -q "^   $command\$" "$work/page" || fail "dorvik-midi(1) has no section for $command"
    grep -q "usage: dorvik-midi $command" "$work/page" || fail "dorvik-midi(1) lacks $command's usage"
done
grep -q -- '--soundfont FILE.sf2' "$work/page" || fail "dorvik-midi(1) lacks the options"
MANWIDTH=100 man -l "$work/dorvik-midi-player.1" 2>/dev/null | grep -q 'dorvik-midi-player \[FILE.mid\]' ||
    fail "dorvik-midi-player(1) lacks its usage"

# words typed | what completion offers
while IFS='|' read -r typed offered; do
    got=$(bash -c '. /usr/share/bash-completion/bash_completion && . "$1" && shift &&
        COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) && COMP_LINE="$* " && COMP_POINT=${#COMP_LINE} &&
        _dorvik_midi && echo "${COMPREPLY[*]}"' \
        - "$source/data/dorvik-midi.bash-completion" $typed '')
    [ "$got" = "$offered" ] || fail "completing '$typed ': expected '$offered', got '$got'"
done <<'ROWS'
dorvik-midi|info render play export video score progress batch ports record help --help --version
dorvik-midi export --quality|standard high maximum
dorvik-midi batch|render export video
dorvik-midi batch export --format|wav ogg flac m4a aac mp3
dorvik-midi video --theme|dark light contrast
ROWS
got=$(bash -c '. /usr/share/bash-completion/bash_completion && . "$1" &&
    COMP_WORDS=(dorvik-midi render --s) COMP_CWORD=2 COMP_LINE="dorvik-midi render --s" &&
    COMP_POINT=${#COMP_LINE} && _dorvik_midi && echo "${COMPREPLY[*]}"' \
    - "$source/data/dorvik-midi.bash-completion")
[ "$got" = "--soundfont --speed" ] || fail "completing 'render --s': expected '--soundfont --speed', got '$got'"
exit $failed
