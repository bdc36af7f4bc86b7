#!/bin/sh
# dorvik-midi play FILE.mid: the song plays while it renders, through SDL's disk driver (which
# writes what a sound card would play, in real time), to its end where its sound ends; an
# interrupted one ends by its signal. Either way the render's files in the cache folder are gone
# afterwards.
# Usage: play_midi.sh DORVIK_MIDI MAKE_DEMO_SONG SOUNDFONT
set -u
tool=$1 make_song=$2 soundfont=$3
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
export XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config" SDL_AUDIODRIVER=disk

"$make_song" --seconds 3 short.mid >/dev/null || exit 1
"$make_song" --seconds 60 long.mid >/dev/null || exit 1

# To its end: the sound is heard (not silence) and runs about as long as the song. The disk driver
# writes in real time, so while the render is still ahead of the first sound, or falls behind on a
# busy machine, it writes digital silence: runs of exact zeros of 20 ms or more are not the song's
# and are left out of its length.
SDL_DISKAUDIOFILE=short.raw "$tool" play --soundfont "$soundfont" short.mid 2>err.txt
status=$?
[ "$status" -eq 0 ] || fail "short song: status $status ($(cat err.txt))"
python3 - short.raw <<'PY' || fail "short song: $(cat err.txt)"
import array, sys
samples = array.array('h', open(sys.argv[1], 'rb').read())
frames = len(samples) // 2
loud = max((abs(s) for s in samples), default=0)
assert loud > 1000, f"silent ({loud})"
waited = 0
i = 0
while i < frames:
    j = i
    while j < frames and samples[2 * j] == 0 and samples[2 * j + 1] == 0:
        j += 1
    if j - i >= 882:
        waited += j - i
    i = j + 1
seconds = (frames - waited) / 44100
assert 2.5 < seconds < 8, f"{seconds:.2f} s of sound for a 3-second song ({waited / 44100:.2f} s waited)"
PY

# Interrupted part way into a minute's song, while it may still be rendering.
SDL_DISKAUDIOFILE=long.raw "$tool" play --soundfont "$soundfont" long.mid 2>err.txt &
pid=$!
sleep 2
kill -s INT $pid
wait $pid
status=$?
[ "$status" -eq 130 ] || fail "SIGINT: status $status ($(cat err.txt))"
left=$(find "$work/cache" -type f 2>/dev/null | wc -l)
[ "$left" -eq 0 ] || fail "files left in the cache: $(find "$work/cache" -type f)"

# A SoundFont that is not there, or a MIDI file that is not one: a failure that names it.
"$tool" play --soundfont missing.sf2 short.mid 2>err.txt
[ $? -eq 1 ] && grep -q 'missing.sf2' err.txt || fail "missing SoundFont: $(cat err.txt)"
printf 'not midi' > junk.mid
"$tool" play --soundfont "$soundfont" junk.mid 2>err.txt
[ $? -eq 1 ] && grep -q 'junk.mid: Not a MIDI file' err.txt || fail "junk: $(cat err.txt)"
[ "$failures" -eq 0 ]
