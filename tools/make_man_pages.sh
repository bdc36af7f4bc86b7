#!/bin/sh
# Makes the manual pages of both programs from their own --help and --version texts, with help2man:
# dorvik-midi.1 carries each command's help as a section of its own, so that the page and
# `dorvik-midi COMMAND --help` never disagree.
#
# Usage: tools/make_man_pages.sh BUILD_DIR OUT_DIR
set -eu
build=$1 out=$2
tool="$build/src/cli/dorvik-midi"
player="$build/src/app/dorvik-midi-player"
mkdir -p "$out"
include=$(mktemp)
trap 'rm -f "$include"' EXIT

# A plain text as roff that shows it as it is: backslashes doubled, and a line that starts with a
# dot or a quote kept from being read as a request.
roff() { sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"; }

{
    echo "[COMMANDS]"
    for command in info render play export video score progress batch ports record; do
        echo ".SS $command"
        echo ".nf"
        "$tool" "$command" --help | roff
        echo ".fi"
    done
    echo "[FILES]"
    echo ".TP"
    echo ".I ~/.config/Dorvik Midi Player/settings.ini"
    echo "The player's settings; render, export, video and play take its SoundFont when none is named."
    echo ".TP"
    echo ".I /usr/share/sounds/sf2/default-GM.sf2"
    echo "The SoundFont used when the settings name none."
    echo "[SEE ALSO]"
    echo ".BR dorvik-midi-player (1)"
} >"$include"
help2man --no-info --section=1 --name="the work of Dorvik Midi Player without a window" \
    --include="$include" --output="$out/dorvik-midi.1" "$tool"

{
    echo "[SEE ALSO]"
    echo ".BR dorvik-midi (1)"
} >"$include"
help2man --no-info --section=1 --name="MIDI player with falling notes on a piano keyboard" \
    --include="$include" --output="$out/dorvik-midi-player.1" "$player"
