#!/usr/bin/env bash
# Loudness of what the program writes, on 20 real MIDI files of different kinds (solo piano and
# guitar, band arrangements, game music with square and saw leads, orchestral pieces, drum-heavy
# grooves): each is rendered with `dorvik-midi render` and exported with `dorvik-midi export` to
# WAV and to MP3, and each export is read by ffmpeg's EBU R128 meter (integrated loudness, true
# peak) and decoded to 16 bits to count its samples at full scale. Beside them, for comparison, the
# same measures of FluidSynth's own command line at its fixed gain (`fluidsynth -ni -g 0.5 -F`),
# which is what the program's render starts from.
# Prints a row per file and a summary; exits non-zero when any export is more than 1 LU away from
# -16 LUFS, has a true peak above -1 dBTP or holds a sample at full scale.
# The files come from the Debian packages bench/midi_corpus.sh uses, in the same cache folder;
# where the named ones are missing, other real files from there take their places.
# Usage: bench/loudness.sh [BUILD_DIR] [CACHE_DIR] [SOUNDFONT]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
cache=${2:-${XDG_CACHE_HOME:-$HOME/.cache}/dorvik-midi-corpus}
soundfont=${3:-/usr/share/sounds/sf2/default-GM.sf2}
cli="$build/src/cli/dorvik-midi"
packages=(openttd-openmsx planetblupi-music-midi mma)
target_lufs=-16
tolerance_lu=1
ceiling_dbtp=-1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# kind and file name, four of each kind.
chosen=(
    "piano pianos.mid" "piano voicing.mid" "guitar lullaby2.mid" "solo chemistry_lab.mid"
    "band bill-bailey.mid" "band frankie.mid" "band be_sharp_bw_redfarn.mid" "band shes-just-my-style.mid"
    "game music006.mid" "game music009.mid" "game ultimate_run.mid" "game ttsong_iii_imuh3.mid"
    "orch music003.mid" "orch linns_basket.mid" "orch keep_on_rolling.mid" "orch marine-hymn.mid"
    "drums fella1.mid" "drums cresc.mid" "drums the_fast_route.mid" "drums metal1.mid"
)

mkdir -p "$cache/debs" "$cache/files"
(
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
)
mapfile -d '' corpus < <(find "$cache/files" -type f \( -iname '*.mid' -o -iname '*.midi' \) -print0 | sort -z)
if [ "${#corpus[@]}" -eq 0 ]; then
    echo "no MIDI files found in $cache" >&2
    exit 1
fi

# The named files that are here, then others (the largest first, the fuller songs) up to 20.
songs=() kinds=()
for entry in "${chosen[@]}"; do
    read -r kind name <<<"$entry"
    for f in "${corpus[@]}"; do
        if [ "$(basename "$f")" = "$name" ]; then
            songs+=("$f") kinds+=("$kind")
            break
        fi
    done
done
while IFS= read -r f; do
    [ "${#songs[@]}" -ge 20 ] && break
    [[ " ${songs[*]} " == *" $f "* ]] && continue
    songs+=("$f") kinds+=("other")
done < <(find "$cache/files" -type f \( -iname '*.mid' -o -iname '*.midi' \) -printf '%s\t%p\n' | sort -rn | cut -f2-)

# "I TP" of a file: integrated loudness in LUFS and true peak in dBTP, from ffmpeg's summary.
measure() {
    ffmpeg -hide_banner -nostats -i "$1" -af ebur128=peak=true -f null - 2>&1 |
        awk '/Summary/ {s = 1} s && /I:/ {i = $2} s && /Peak:/ {p = $2} END {print i, p}'
}

# Samples at full scale (+32767 or -32768) once the file is decoded to 16 bits.
full_scale() {
    ffmpeg -v error -i "$1" -f s16le -acodec pcm_s16le - | python3 -c '
import array, sys
samples = array.array("h", sys.stdin.buffer.read())
print(samples.count(32767) + samples.count(-32768))'
}

printf 'SoundFont %s; aim: %s LUFS +/- %s LU, true peak <= %s dBTP, no sample at full scale\n' \
    "$(readlink -f "$soundfont")" "$target_lufs" "$tolerance_lu" "$ceiling_dbtp"
printf '%-28s %-6s | %7s %6s %7s | %7s %6s %4s | %7s %6s %4s | %s\n' file kind ref_I ref_TP ref_FS \
    wav_I wav_TP FS mp3_I mp3_TP FS verdict
rows="$work/rows"
: >"$rows"
for i in "${!songs[@]}"; do
    song=${songs[$i]}
    name=$(basename "$song")
    rm -f "$work"/*.wav "$work"/*.mp3
    fluidsynth -ni -g 0.5 -F "$work/ref.wav" "$soundfont" "$song" >/dev/null 2>&1
    read -r ref_i ref_tp <<<"$(measure "$work/ref.wav")"
    ref_fs=$(full_scale "$work/ref.wav")
    if ! "$cli" render --soundfont "$soundfont" "$song" -o "$work/render.wav" >/dev/null 2>"$work/err" ||
        ! "$cli" export "$work/render.wav" -o "$work/out.wav" >/dev/null 2>>"$work/err" ||
        ! "$cli" export "$work/render.wav" -o "$work/out.mp3" >/dev/null 2>>"$work/err"; then
        printf '%-28s %-6s | failed: %s\n' "$name" "${kinds[$i]}" "$(tr '\n' ' ' <"$work/err")"
        echo "${name// /_} failed" >>"$rows"
        continue
    fi
    read -r wav_i wav_tp <<<"$(measure "$work/out.wav")"
    read -r mp3_i mp3_tp <<<"$(measure "$work/out.mp3")"
    wav_fs=$(full_scale "$work/out.wav")
    mp3_fs=$(full_scale "$work/out.mp3")
    verdict=$(awk -v t="$target_lufs" -v tol="$tolerance_lu" -v c="$ceiling_dbtp" \
        -v a="$wav_i $wav_tp $wav_fs" -v b="$mp3_i $mp3_tp $mp3_fs" '
        function judge(measures, name,    m, d, out) {
            split(measures, m, " ")
            d = m[1] - t
            if (d > tol || d < -tol) out = out name ":loudness "
            if (m[2] > c) out = out name ":peak "
            if (m[3] > 0) out = out name ":full-scale "
            return out
        }
        BEGIN {
            out = judge(a, "wav") judge(b, "mp3")
            print out == "" ? "ok" : out
        }')
    printf '%-28s %-6s | %7s %6s %7s | %7s %6s %4s | %7s %6s %4s | %s\n' "$name" "${kinds[$i]}" \
        "$ref_i" "$ref_tp" "$ref_fs" "$wav_i" "$wav_tp" "$wav_fs" "$mp3_i" "$mp3_tp" "$mp3_fs" "$verdict"
    echo "${name// /_} $wav_i $wav_tp $wav_fs $mp3_i $mp3_tp $mp3_fs $verdict" >>"$rows"
done

awk -v t="$target_lufs" -v tol="$tolerance_lu" '
    $2 == "failed" { failed++; next }
    {
        files++
        for (k = 0; k < 2; k++) {
            i = $(2 + 3 * k); p = $(3 + 3 * k); fs = $(4 + 3 * k)
            exports++
            if (i - t <= tol && t - i <= tol) within++
            if (exports == 1 || p > peak) peak = p
            full += fs
        }
        if ($8 != "ok") bad++
    }
    END {
        printf "summary: %d of %d exports within %s LU of %s LUFS; highest true peak %s dBTP; %d samples at full scale",
               within, exports, tol, t, peak, full
        if (failed) printf "; %d files failed to render or export", failed
        printf "\n"
        exit (bad || failed) ? 1 : 0
    }' "$rows"
