#!/usr/bin/env bash
# What the notes view keeps beside a song of tens of millions of notes, generated here (one note a
# tick on 32 tracks, 20,000,000 notes over 180 s by default, as bench/window_huge.sh plays it).
# Peak memory (resident set) of drawing a few frames of it (view_frames cost: the song read, its
# key index and overview of notes built, frames drawn off screen), against `dorvik-midi info`
# reading the same song in the same run: the difference, a note, is what the view adds to the
# song's own store.
#
# With a second build folder, that build's view_frames (an earlier version, say) is measured in
# the same run on the same file, and the ratio of the two peaks is printed.
# Usage: bench/view_memory.sh [BUILD_DIR] [NOTES] [REFERENCE_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
notes=${2:-20000000}
reference=${3:-}
for tool in "$build/tools/make_dense_song" "$build/tests/view/view_frames" "$build/src/cli/dorvik-midi"; do
    [ -x "$tool" ] || { echo "view_memory: build $tool first" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "view_memory: /usr/bin/time is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tools/make_dense_song" --notes "$notes" --seconds 180 --tracks 32 "$work/dense.mid"
"$build/tools/make_dense_song" --notes 1 --seconds 1 "$work/tiny.mid"

# Peak resident set in kB of the command given.
peak_kb() {
    /usr/bin/time -f '%M' -o "$work/peak" "$@" >/dev/null 2>&1
    cat "$work/peak"
}

# What a tool takes for the dense song beyond what it takes for a one-note one (the program, its
# images and its drawing target), in kB.
grown_kb() {
    local dense tiny
    dense=$(peak_kb "$@" "$work/dense.mid")
    tiny=$(peak_kb "$@" "$work/tiny.mid")
    echo "$dense $((dense - tiny))"
}

read -r info_kb info_grown < <(grown_kb "$build/src/cli/dorvik-midi" info)
printf "%-32s %5.0f MB peak, %5.1f bytes a note\n" "info (the song read)" "$((info_kb / 1024))" \
    "$(awk -v kb="$info_grown" -v n="$notes" 'BEGIN { print kb * 1024 / n }')"
report() {  # NAME BUILD
    local kb grown
    read -r kb grown < <(grown_kb "$2/tests/view/view_frames" cost --frames 30)
    awk -v name="$1" -v kb="$kb" -v g="$grown" -v info="$info_grown" -v n="$notes" 'BEGIN {
        printf "%-32s %5.0f MB peak, %5.1f bytes a note beside the song read\n", name, kb / 1024, (g - info) * 1024 / n }'
    echo "$kb" >"$work/last"
}
report "view frames" "$build"
view_kb=$(cat "$work/last")
if [ -n "$reference" ]; then
    report "view frames ($reference)" "$reference"
    awk -v a="$view_kb" -v b="$(cat "$work/last")" 'BEGIN { printf "peak against the reference build: %.2f\n", a / b }'
fi
