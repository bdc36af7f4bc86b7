#!/usr/bin/env bash
# The layout check passes on the tree as it is and fails, naming the file and the rule, on each
# violation planted in a copy of it: an include that points up a floor, the window's session seen
# from below app/, the dialogs layer opened from a room below the roof, and a reason or an error
# number handed back through an argument instead of a Failure.
set -euo pipefail
source_root=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

copy_tree() {
    rm -rf "$scratch/tree"
    mkdir -p "$scratch/tree/tools"
    cp -r "$source_root/src" "$scratch/tree/"
    cp "$source_root/tools/check_layout.sh" "$scratch/tree/tools/"
}

copy_tree
"$scratch/tree/tools/check_layout.sh" "$scratch/tree" || { echo "the clean tree fails the check"; exit 1; }

# file | line planted at its top | words the check must say
cases=(
    'src/view/panel.h|#include "ui/widgets.h"|a floor above view/'
    'src/export/export_job.cpp|#include "app/session_state.h"|which only app cli may include'
    'src/ui/control_panel.cpp|#include "app/song_session.h"|which only app cli may include'
    'src/synth/synth_renderer.cpp|#include "platform/dialogs.h"|which only platform app cli may include'
    'src/synth/soundfont_load.h|bool Load(const char* path, std::string& error);|instead of a reason through a string'
    'src/midi/midi_writer.h|bool Save(const char* path, int& error);|instead of an error number through an int'
)
for row in "${cases[@]}"; do
    IFS='|' read -r file planted expected <<<"$row"
    copy_tree
    sed -i "1i $planted" "$scratch/tree/$file"
    if out=$("$scratch/tree/tools/check_layout.sh" "$scratch/tree" 2>&1); then
        echo "planted '$planted' in $file: the check passed"
        exit 1
    fi
    if ! grep -q "^$file:1:.*$expected" <<<"$out"; then
        echo "planted '$planted' in $file: expected '$file:1: … $expected', got:"
        echo "$out"
        exit 1
    fi
done
echo "layout check: clean tree passes, ${#cases[@]} planted violations caught"
