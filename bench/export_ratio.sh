#!/usr/bin/env bash
# Export speed of `dorvik-midi export` against the reference tool for each format, on a rendered
# 300-second two-hand song: FLAC, ALAC, AAC and MP3 against the ffmpeg command line, Ogg Vorbis
# against oggenc, the WAV copy against cp. Each pair runs back to back, RUNS rounds; the script
# prints the best elapsed time of each and our time divided by the reference's (the aim is at most
# 1.1), and the same ratio of processor time (user + system), which a busy machine disturbs less.
# Usage: bench/export_ratio.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-3}
cli="$build/src/cli/dorvik-midi"
soundfont=/usr/share/sounds/sf2/FluidR3_GM.sf2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 19,200 note events make a 300-second song (the generator spaces its notes evenly).
"$build/tools/make_stress_song" --events 19200 "$work/song.mid"
fluidsynth -ni -g 0.5 -F "$work/song.wav" "$soundfont" "$work/song.mid" >/dev/null 2>&1
seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/song.wav")

# Prints "elapsed processor" in seconds for one run of the command.
measure() {
    local TIMEFORMAT='%3R %3U %3S' out
    if ! out=$({ time "$@" </dev/null >/dev/null 2>&1; } 2>&1); then
        echo "failed: $*" >&2
        exit 1
    fi
    awk '{ printf "%s %.3f\n", $1, $2 + $3 }' <<<"$out"
}

# Keeps the smaller of each column.
best() {
    awk -v a="$1" -v b="$2" 'BEGIN {
        if (a == "") { print b; exit }
        split(a, x, " "); split(b, y, " ")
        printf "%s %s\n", (y[1] < x[1] ? y[1] : x[1]), (y[2] < x[2] ? y[2] : x[2])
    }'
}

printf 'song: %.1f s rendered with FluidR3_GM, gain 0.5; best of %d rounds\n' "$seconds" "$runs"
printf '%-6s %9s %9s %7s %9s  %s\n' format ours_ms ref_ms ratio cpu_ratio reference
while read -r format ext reference; do
    ours_best="" ref_best=""
    for ((i = 0; i < runs; i++)); do
        rm -f "$work/ours.$ext" "$work/ref.$ext"
        ours_best=$(best "$ours_best" "$(measure "$cli" export "$work/song.wav" -o "$work/ours.$ext")")
        command=${reference//IN/$work/song.wav}
        ref_best=$(best "$ref_best" "$(measure sh -c "${command//OUT/$work/ref.$ext}")")
    done
    awk -v f="$format" -v o="$ours_best" -v r="$ref_best" -v c="$reference" 'BEGIN {
        split(o, x, " "); split(r, y, " ")
        printf "%-6s %9.0f %9.0f %7.2f %9.2f  %s\n", f, x[1] * 1000, y[1] * 1000, x[1] / y[1], x[2] / y[2], c
    }'
done <<TABLE
flac flac ffmpeg -v error -y -i IN -c:a flac OUT
alac m4a  ffmpeg -v error -y -i IN -c:a alac OUT
aac  aac  ffmpeg -v error -y -i IN -c:a aac -b:a 128k OUT
mp3  mp3  ffmpeg -v error -y -i IN -c:a libmp3lame -b:a 128k OUT
ogg  ogg  oggenc -Q -q 5 -o OUT IN
wav  wav  cp IN OUT
TABLE
