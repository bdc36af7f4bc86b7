#!/bin/sh
# dorvik-midi render for practice: --speed changes the timing and not the pitch, --mute silences a
# part and nothing else, and what cannot be asked for is a usage error that says what was wrong.
# Every row says what it expected and what it measured.
# Usage: render_practice.sh DORVIK_MIDI SOUNDFONT speed|mute|transpose|metronome|usage
set -u
tool=$1 sf2=$2 table=$3
here=$(cd "$(dirname "$0")" && pwd)
audio="python3 $here/practice_audio.py"
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Whether |a - b| <= tolerance * b.
near() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t * b) }'; }
# The mean level in dB of a band of a WAV file, through four filters of ffmpeg's in a row.
band() {
    ffmpeg -nostdin -hide_banner -nostats -i "$1" -af "$2=f=$3,$2=f=$3,$2=f=$3,$2=f=$3,volumedetect" -f null - 2>&1 |
        awk '/mean_volume/ {print $5}'
}

# Two single notes, A4 then E5, four seconds apart. The time between their onsets is the song's
# timing, free of how long the last note's release rings on (which the speed does not change);
# the fundamental of each is its pitch.
speed() {
    $audio notes notes.mid || exit 1
    "$tool" render --soundfont "$sf2" notes.mid -o at100.wav >/dev/null 2>err || { fail "100%: $(cat err)"; return; }
    set -- $($audio onsets at100.wav)
    [ $# -eq 2 ] || { fail "100%: expected 2 onsets, got: $*"; return; }
    span100=$(awk -v a="$1" -v b="$2" 'BEGIN { print b - a }')
    while read -r percent raw; do
        out=at$percent$raw.wav
        "$tool" render $raw --speed "$percent" --soundfont "$sf2" notes.mid -o "$out" >/dev/null 2>err ||
            { fail "$percent% $raw: render failed: $(cat err)"; continue; }
        set -- $($audio onsets "$out")
        [ $# -eq 2 ] || { fail "$percent% $raw: expected 2 onsets, got: $*"; continue; }
        span=$(awk -v a="$1" -v b="$2" 'BEGIN { print b - a }')
        want=$(awk -v s="$span100" -v p="$percent" 'BEGIN { print s * 100 / p }')
        near "$span" "$want" 0.005 || fail "$percent% $raw: onsets $span s apart, expected $want s (+-0.5%)"
        a4=$($audio pitch "$out" "$(awk -v t="$1" 'BEGIN { print t + 0.1 }')" 0.2)
        e5=$($audio pitch "$out" "$(awk -v t="$2" 'BEGIN { print t + 0.1 }')" 0.2)
        near "$a4" 440 0.01 || fail "$percent% $raw: A4 sounds at $a4 Hz, expected 440 (+-1%)"
        near "$e5" 659.255 0.01 || fail "$percent% $raw: E5 sounds at $e5 Hz, expected 659.3 (+-1%)"
        echo "$percent% $raw: onsets $span s apart (expected $want), A4 $a4 Hz, E5 $e5 Hz"
    done <<ROWS
50
200
25
50 --raw
ROWS
}

# Two hands far apart on one channel, told apart by their tracks: the first on C6-B6, the second
# on C2-B2. The raw render keeps one gain whatever is muted, so a band's level compares across
# renders: a muted hand's band must fall by 30 dB or more, the other's stay within 1 dB.
mute() {
    $audio hands hands.mid || exit 1
    "$tool" render --raw --soundfont "$sf2" hands.mid -o all.wav >/dev/null 2>err || { fail "all: $(cat err)"; return; }
    low=$(band all.wav lowpass 200)
    high=$(band all.wav highpass 800)
    while read -r part gone kept; do
        "$tool" render --raw --mute "$part" --soundfont "$sf2" hands.mid -o m$part.wav >/dev/null 2>err ||
            { fail "--mute $part: render failed: $(cat err)"; continue; }
        mlow=$(band m$part.wav lowpass 200)
        mhigh=$(band m$part.wav highpass 800)
        if [ "$gone" = high ]; then set -- "$high" "$mhigh" "$low" "$mlow"; else set -- "$low" "$mlow" "$high" "$mhigh"; fi
        awk -v a="$1" -v b="$2" 'BEGIN { exit !(a - b >= 30) }' ||
            fail "--mute $part: the $gone band fell from $1 to $2 dB, expected 30 dB or more"
        awk -v a="$3" -v b="$4" 'BEGIN { d = a - b; exit !(d <= 1 && d >= -1) }' ||
            fail "--mute $part: the $kept band went from $3 to $4 dB, expected no change"
        echo "--mute $part: $gone band $1 -> $2 dB, $kept band $3 -> $4 dB"
    done <<ROWS
1 high low
2 low high
ROWS
    # The normalised render, muted and slowed at once: the second hand's band stays 30 dB under
    # the first's, and the song lasts twice as long.
    "$tool" render --speed 50 --mute 2 --soundfont "$sf2" hands.mid -o slow.wav >/dev/null 2>err ||
        { fail "--speed 50 --mute 2: render failed: $(cat err)"; return; }
    slow_low=$(band slow.wav lowpass 200)
    slow_high=$(band slow.wav highpass 800)
    awk -v h="$slow_high" -v l="$slow_low" 'BEGIN { exit !(h - l >= 30) }' ||
        fail "--speed 50 --mute 2: low band $slow_low dB against $slow_high dB, expected 30 dB under"
    set -- $($audio onsets slow.wav)
    awk -v a="$1" 'BEGIN { exit !(a < 0.01) }' || fail "--speed 50 --mute 2: the first hand starts at $1 s, expected 0"
    echo "--speed 50 --mute 2: low band $slow_low dB, high band $slow_high dB"
}

# --transpose moves every note's pitch by its semitones: A4 and E5 sound that far away, and the
# timing stays.
transpose() {
    $audio notes notes.mid || exit 1
    while read -r semitones a4want e5want; do
        "$tool" render --transpose "$semitones" --soundfont "$sf2" notes.mid -o t.wav >/dev/null 2>err ||
            { fail "--transpose $semitones: render failed: $(cat err)"; continue; }
        set -- $($audio onsets t.wav)
        [ $# -eq 2 ] || { fail "--transpose $semitones: expected 2 onsets, got: $*"; continue; }
        a4=$($audio pitch t.wav "$(awk -v t="$1" 'BEGIN { print t + 0.1 }')" 0.2)
        e5=$($audio pitch t.wav "$(awk -v t="$2" 'BEGIN { print t + 0.1 }')" 0.2)
        near "$a4" "$a4want" 0.01 || fail "--transpose $semitones: A4 sounds at $a4 Hz, expected $a4want (+-1%)"
        near "$e5" "$e5want" 0.01 || fail "--transpose $semitones: E5 sounds at $e5 Hz, expected $e5want (+-1%)"
        echo "--transpose $semitones: A4 at $a4 Hz, E5 at $e5 Hz"
    done <<ROWS
3 523.251 783.991
-12 220 329.628
+12 880 1318.51
ROWS
}

# --metronome clicks on every beat of the song's tempo and time signature, within 5 ms, the first
# beat of each bar (3/4 here) accented; at half speed the beats come half as often.
metronome() {
    $audio beats beats.mid || exit 1
    while read -r percent beat; do
        "$tool" render --metronome --speed "$percent" --soundfont "$sf2" beats.mid -o m.wav >/dev/null 2>err ||
            { fail "$percent%: render failed: $(cat err)"; continue; }
        found=$($audio clicks m.wav)
        i=0
        for click in $found; do
            t=${click%%:*} kind=${click##*:}
            want=$(awk -v i="$i" -v b="$beat" 'BEGIN { print i * b }')
            awk -v t="$t" -v w="$want" 'BEGIN { d = t - w; if (d < 0) d = -d; exit !(d <= 0.005) }' ||
                fail "$percent%: click $i at $t s, expected $want s (+-5 ms)"
            accent=b
            [ $((i % 3)) -eq 0 ] && accent=A
            [ "$kind" = "$accent" ] || fail "$percent%: click $i at $t s is $kind, expected $accent"
            i=$((i + 1))
        done
        [ "$i" -ge 8 ] || fail "$percent%: expected a click on each of the 8 beats of the note, got $i: $found"
        echo "$percent%: $i clicks: $found"
    done <<ROWS
100 0.5
50 1.0
ROWS
    "$tool" render --raw --metronome --soundfont "$sf2" beats.mid -o raw.wav >/dev/null 2>err
    [ $? -eq 2 ] && grep -q "takes no --metronome" err || fail "--raw --metronome: expected a usage error, got: $(head -1 err)"
}

# arguments | the words expected on standard error; every row must exit with 2 and write nothing.
usage() {
    $audio hands hands.mid || exit 1
    while IFS='|' read -r args words; do
        rm -f out.wav
        "$tool" render --soundfont "$sf2" hands.mid -o out.wav $args >/dev/null 2>err
        got=$?
        [ "$got" -eq 2 ] || fail "$args: expected status 2, got $got ($(head -1 err))"
        grep -qF -- "$words" err || fail "$args: expected '$words' on standard error, got: $(head -1 err)"
        [ ! -e out.wav ] || fail "$args: an output was written"
    done <<ROWS
--speed 22|percentage from 25 to 200 in steps of 5, not "22"
--speed 205|not "205"
--speed 33|not "33"
--speed 50.0|not "50.0"
--speed fast|not "fast"
--speed -50|not "-50"
--speed|--speed needs a percentage
--mute 3|--mute 3: hands.mid: the song has no part 3 (it is read as two hands: 1 and 2)
--mute 0|the song has no part 0
--mute 1x|the song has no part 1x
--mute drums|the song has no drums
--mute 1 --mute 2|every part of hands.mid would be silent
--mute|--mute needs a part
--transpose 13|--transpose takes semitones from -12 to 12
--transpose 1.5|--transpose takes semitones
--transpose|--transpose takes semitones
ROWS
}

$table
[ "$failures" -eq 0 ] || exit 1
echo "all $table rows passed"
