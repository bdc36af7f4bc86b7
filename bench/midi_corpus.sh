#!/usr/bin/env bash
# How many real MIDI files load, and how many of them agree with the synthesiser's own file player
# (one tempo map from all tracks, a key struck again ending its note, percussion left out). The
# files come from Debian packages that ship MIDI music, downloaded and unpacked into a cache folder
# outside the repository; none of them is ever committed. Prints one line per file and the totals.
# Usage: bench/midi_corpus.sh [BUILD_DIR] [CACHE_DIR]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
cache=${2:-${XDG_CACHE_HOME:-$HOME/.cache}/dorvik-midi-corpus}
packages=(openttd-openmsx planetblupi-music-midi mma rosegarden lmms-common abcmidi timidity)

mkdir -p "$cache/debs" "$cache/files"
cd "$cache/debs"
for p in "${packages[@]}"; do
    if ! ls "${p}"_*.deb >/dev/null 2>&1; then
        apt-get download "$p" >/dev/null 2>&1 || echo "($p is not available here)" >&2
    fi
done
for deb in *.deb; do
    [ -e "$deb" ] || continue
    dir="$cache/files/${deb%%_*}"
    [ -d "$dir" ] || dpkg-deb -x "$deb" "$dir"
done

mapfile -d '' files < <(find "$cache/files" -type f \( -iname '*.mid' -o -iname '*.midi' -o -iname '*.rmi' -o -iname '*.kar' \) -print0 | sort -z)
if [ "${#files[@]}" -eq 0 ]; then
    echo "no MIDI files found in $cache" >&2
    exit 1
fi
"$build/tests/midi/midi_corpus_check" --within 5 "${files[@]}" | sed "s|$cache/files/||"
