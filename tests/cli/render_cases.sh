#!/bin/sh
# dorvik-midi render as a user meets it, in three tables: where the output may go, what an
# interruption leaves behind, inputs that cannot be rendered, and songs that must render whole.
# Every row says what it expected.
# Usage: render_cases.sh DORVIK_MIDI MAKE_DEMO_SONG SOUNDFONT outputs|interruptions|inputs|songs
set -u
tool=$1 make_song=$2 sf2=$3 table=$4
. "$(dirname "$0")/case_folder.sh"
temps() { ls -A "${1:-.}" | grep -c '^\.dorvik-render-'; }
"$make_song" --seconds 2 song.mid >/dev/null || exit 1
cp "$sf2" font.sf2

render() { "$tool" render --soundfont font.sf2 "$@" >/dev/null 2>last.err; }

# name | how to prepare | -o | expected status | check afterwards
outputs() {
    long250=$(printf 'a%.0s' $(seq 246)).wav
    long255=$(printf 'b%.0s' $(seq 251)).wav
    while IFS='|' read -r name prepare out status check; do
        rm -rf case && mkdir case && cp song.mid case/ && cp font.sf2 case/ && cd case || exit 1
        sh -c "$prepare" 2>/dev/null
        cp song.mid song.before
        timeout 20 "$tool" render --soundfont font.sf2 song.mid -o "$out" >/dev/null 2>../last.err
        got=$?
        [ "$got" -eq "$status" ] || fail "$name: expected status $status, got $got ($(cat ../last.err))"
        sh -c "$check" || fail "$name: check failed: $check"
        cmp -s song.mid song.before || fail "$name: the song was changed"
        cmp -s font.sf2 ../font.sf2 || fail "$name: the SoundFont was changed"
        [ "$(temps)" -eq 0 ] || fail "$name: a temporary file was left"
        cd .. || exit 1
    done <<ROWS
the song itself||song.mid|1|grep -q 'file being rendered from' ../last.err
the SoundFont itself||font.sf2|1|true
the song through a link|ln -s song.mid link.mid|link.mid|1|test -L link.mid
the song through ..|mkdir sub|sub/../song.mid|1|true
the song through a hard link|ln song.mid hard.mid|hard.mid|1|cmp -s hard.mid song.mid
a device node|mknod null c 1 3|null|1|test -c null
a pipe|mkfifo pipe|pipe|1|test -p pipe
a folder|mkdir out.wav|out.wav|1|test -d out.wav
a 250-byte name||$long250|0|test -s $long250
a 255-byte name||$long255|0|test -s $long255
a private file keeps its mode|echo old > out.wav; chmod 600 out.wav|out.wav|0|test "\$(stat -c %a out.wav)" = 600 && ! grep -q old out.wav
a link is written through|echo old > real.wav; ln -s real.wav out.wav|out.wav|0|test -L out.wav && ! grep -q old real.wav
ROWS
}

# name | signal sent part way ("" for a file-size limit instead)
interruptions() {
    "$make_song" --seconds 900 long.mid >/dev/null || exit 1
    while IFS='|' read -r name signal; do
        echo old > out.wav
        if [ -n "$signal" ]; then
            "$tool" render --soundfont font.sf2 long.mid -o out.wav >/dev/null 2>&1 &
            pid=$!
            # Interrupted while it writes: the temporary file has no name to watch, so give the
            # render time to be well under way.
            sleep 2.5
            kill -s "$signal" $pid
            wait $pid
        else
            (ulimit -f 200; "$tool" render --soundfont font.sf2 long.mid -o out.wav >/dev/null 2>last.err)
            [ $? -eq 1 ] || fail "$name: expected status 1"
        fi
        [ "$(cat out.wav)" = old ] || fail "$name: the old output was not kept"
        left=$(temps)
        # Even SIGKILL leaves nothing: until it is complete the render's file has no name.
        [ "$left" -eq 0 ] || fail "$name: $left temporary files were left"
    done <<ROWS
SIGINT|INT
SIGTERM|TERM
SIGHUP|HUP
SIGKILL|KILL
file-size limit|
ROWS
}

# Cuts the SoundFont's sample data to 64 bytes and mends the chunk sizes around it, so that the
# file still loads but no sample has its sound any more.
cut_samples() {
    python3 - "$sf2" font.sf2 <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
at = data.find(b'smpl')
size = struct.unpack_from('<I', data, at + 4)[0]
cut = size - 64
del data[at + 8 + 64:at + 8 + size]
struct.pack_into('<I', data, at + 4, 64)
lst = data.rfind(b'LIST', 0, at)
struct.pack_into('<I', data, lst + 4, struct.unpack_from('<I', data, lst + 4)[0] - cut)
struct.pack_into('<I', data, 4, len(data) - 8)
open(sys.argv[2], 'wb').write(data)
PY
}

# name | how to make in.mid (and font.sf2) | words expected on standard error
inputs() {
    while IFS='|' read -r name prepare words; do
        rm -f in.mid out.wav && cp "$sf2" font.sf2
        eval "$prepare"
        timeout 20 "$tool" render --soundfont font.sf2 in.mid -o out.wav >/dev/null 2>last.err
        got=$?
        [ "$got" -eq 1 ] || fail "$name: expected status 1, got $got"
        grep -q "$words" last.err || fail "$name: expected '$words', got: $(cat last.err)"
        [ ! -e out.wav ] || fail "$name: an output was written"
        [ "$(temps)" -eq 0 ] || fail "$name: a temporary file was left"
        rm -rf in.mid
    done <<ROWS
a pipe|mkfifo in.mid|not a regular file
a folder|mkdir in.mid|not a regular file
SMPTE timing FluidSynth refuses|head -c 12 song.mid > in.mid; printf '\347\050' >> in.mid; tail -c +15 song.mid >> in.mid|SMPTE
a tempo of a length no reader can read|printf 'MThd\000\000\000\006\000\000\000\001\001\340MTrk\000\000\000\026\000\220\074\100\203\140\200\074\100\000\377\121\377\377\377\377\377\177\000\377\057\000' > in.mid|Damaged at byte 31
SoundFont with its samples cut short|cp song.mid in.mid; cut_samples|silent
a song of no notes|printf 'MThd\000\000\000\006\000\000\000\001\001\340MTrk\000\000\000\013\000\377\121\003\007\241\040\000\377\057\000' > in.mid|in.mid has no notes
a song padded past the 4 GiB a file may be|cp song.mid in.mid; truncate -s 5G in.mid|Too large: 5368709120 bytes, over the memory limit
ROWS
}

# Writes in.mid: TRACKS tracks of one piano note each, a note a tenth of a second, or with "open"
# one track of NOTES notes a second apart that no note-off ever ends.
make_song() {
    python3 - "$@" <<'PY'
import struct, sys
def vlq(v):
    out = [v & 0x7F]
    while v > 127:
        v >>= 7
        out.insert(0, 0x80 | (v & 0x7F))
    return bytes(out)
if sys.argv[1] == 'open':
    body = b''.join(vlq(0 if i == 0 else 960) + bytes([0x90, 30 + i % 60, 100]) for i in range(int(sys.argv[2])))
    tracks = [body + vlq(960) + b'\xff\x2f\x00']
else:
    tracks = [vlq(48 * t) + bytes([0x90 | t % 9, 40 + t % 40, 100]) + vlq(96) + bytes([0x80 | t % 9, 40 + t % 40, 0])
              + b'\x00\xff\x2f\x00' for t in range(int(sys.argv[1]))]
def track(body):
    return b'MTrk' + struct.pack('>I', len(body)) + body
open('in.mid', 'wb').write(b'MThd' + struct.pack('>IHHH', 6, 1, len(tracks), 480) + b''.join(track(t) for t in tracks))
PY
}

# name | arguments of make_song | the least length the render must have, in whole seconds
songs() {
    while IFS='|' read -r name args least; do
        rm -f in.mid out.wav
        make_song $args
        timeout 60 "$tool" render --soundfont font.sf2 in.mid -o out.wav >out.txt 2>last.err
        got=$?
        [ "$got" -eq 0 ] || fail "$name: expected status 0, got $got ($(cat last.err))"
        seconds=$(sed -n 's/^out.wav: \([0-9]*\)\..*/\1/p' out.txt)
        [ "${seconds:-0}" -ge "$least" ] || fail "$name: expected at least $least s, got: $(cat out.txt)"
    done <<ROWS
127 tracks|127|6
128 tracks, more than the synthesiser's player takes|128|6
200 tracks|200|10
sixty notes that never end|open 60|60
ROWS
}

"$table"
passed
