#!/usr/bin/env bash
# How faithfully the sheet music that `score` writes shows the MIDI file it comes from, against
# MuseScore 3's own MIDI import, on two-hand piano pieces: the share of notes written at the right
# onset (within 1/24 of a quarter) and of notes whose written duration lies within max(1/8
# quarter, 20%) of the sounding one, note-weighted over the pieces. Targets: 99.5% and 97%.
#
# The pieces are the piano demo scores Debian's MuseScore packages ship, downloaded with
# `apt-get download` into a cache folder outside the repository (never committed) and made into
# MIDI files by musescore3 once; the bundled demo song is measured beside them.
# Usage: bench/notation_accuracy.sh [BUILD_DIR] [CACHE_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
cache=${2:-${XDG_CACHE_HOME:-$HOME/.cache}/dorvik-notation-corpus}
dorvik="$build/src/cli/dorvik-midi"
command -v musescore3 >/dev/null || { echo "musescore3 is needed (./setup.sh installs it)" >&2; exit 1; }
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

mkdir -p "$cache/debs" "$cache/files" "$cache/midi"
cd "$cache/debs"
for p in musescore-common musescore3-common; do
    ls "${p}"_*.deb >/dev/null 2>&1 || apt-get download "$p" >/dev/null 2>&1 || echo "($p is not available here)" >&2
done
for deb in *.deb; do
    [ -e "$deb" ] || continue
    dir="$cache/files/${deb%%_*}"
    [ -d "$dir" ] || dpkg-deb -x "$deb" "$dir"
done
# The demos written for piano on a grand staff.
pieces=()
while IFS= read -r -d '' score; do
    name=$(basename "$score"); name=${name%.*}
    pkg=$(echo "$score" | sed "s|$cache/files/||; s|/.*||")
    midi="$cache/midi/$pkg-$name.mid"
    if [ ! -s "$midi" ]; then
        musescore3 "$score" -o "$midi" >/dev/null 2>&1 || { echo "($score does not convert)" >&2; continue; }
    fi
    pieces+=("$midi")
done < <(find "$cache/files" -path '*/demos/*' \( -name 'Reunion.msc?' -o -name 'All_Dudes.msc?' \) -print0 | sort -z)
pieces+=("$here/../examples/demo_song.mid")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%-34s %6s | %8s %8s | %8s %8s\n' piece notes "ours on" "ours dur" "MS3 on" "MS3 dur"
totals=(0 0 0 0 0)
written=0  # our onsets scored where they are written, a rolled chord's attacks left out
for midi in "${pieces[@]}"; do
    "$dorvik" score "$midi" -o "$work/ours.musicxml"
    musescore3 "$midi" -o "$work/theirs.musicxml" >/dev/null 2>&1
    read -r n o d < <(python3 "$here/notation_score.py" "$midi" "$work/ours.musicxml")
    read -r _ mo md < <(python3 "$here/notation_score.py" "$midi" "$work/theirs.musicxml")
    read -r _ wo _ < <(python3 "$here/notation_score.py" --written "$midi" "$work/ours.musicxml")
    written=$((written + wo))
    pct() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f%%", b ? 100 * a / b : 0 }'; }
    printf '%-34s %6d | %8s %8s | %8s %8s\n' "$(basename "$midi")" "$n" "$(pct "$o" "$n")" "$(pct "$d" "$n")" \
        "$(pct "$mo" "$n")" "$(pct "$md" "$n")"
    totals=($((totals[0] + n)) $((totals[1] + o)) $((totals[2] + d)) $((totals[3] + mo)) $((totals[4] + md)))
done
pct() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f%%", b ? 100 * a / b : 0 }'; }
printf '%-34s %6d | %8s %8s | %8s %8s\n' "all (note-weighted)" "${totals[0]}" "$(pct "${totals[1]}" "${totals[0]}")" \
    "$(pct "${totals[2]}" "${totals[0]}")" "$(pct "${totals[3]}" "${totals[0]}")" "$(pct "${totals[4]}" "${totals[0]}")"
echo "ours, onsets where written (rolls' attacks left out): $(pct "$written" "${totals[0]}")"
echo "targets for ours: onsets >= 99.5%, durations >= 97%"
