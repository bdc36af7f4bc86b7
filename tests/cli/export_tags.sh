#!/bin/sh
# Exported audio carries its tags, read back with ffprobe: the song's own name, composer and
# copyright from its file, the program as the encoder, --title over the song's name, and the file's
# name for a song that names itself nothing.
#
# Usage: export_tags.sh DORVIK_MIDI MAKE_DEMO_SONG SOUNDFONT
set -u
tool=$(realpath "$1") make_song=$(realpath "$2") sf2=$3
. "$(dirname "$0")/case_folder.sh"
# The file's tags as key=value lines, keys in lower case, wherever the container keeps them.
# The container's own tags come first: an MP3's stream also names the encoder library in its
# frame header.
tags() {
    for entries in format_tags stream_tags; do
        ffprobe -v error -show_entries "$entries" -of default=noprint_wrappers=1 "$1"
    done | sed -e 's/^TAG://' | awk -F= '{ k = tolower($1); sub(/^[^=]*=/, ""); print k "=" $0 }'
}
tag() { tags "$1" | grep "^$2=" | head -n1 | cut -d= -f2-; }

# A song that names itself (in Latin-1, as older files do), its composer and its copyright.
python3 -c '
import struct, sys
def meta(t, text): return b"\0\xff" + bytes([t, len(text)]) + text
t0 = meta(3, "Gymnop\xe9die No. 1".encode("latin-1")) + meta(2, b"(c) 1888") + meta(1, b"Composer: Erik Satie") + b"\0\xff\x2f\0"
t1 = b"\0\x90\x3c\x40\x83\x60\x80\x3c\0\0\xff\x2f\0"
sys.stdout.buffer.write(b"MThd" + struct.pack(">IHHH", 6, 1, 2, 480) + b"MTrk" + struct.pack(">I", len(t0)) + t0
                        + b"MTrk" + struct.pack(">I", len(t1)) + t1)' >named.mid
# One that names nothing: its notes alone.
python3 -c '
import struct, sys
t = b"\0\x90\x3c\x40\x83\x60\x80\x3c\0\0\xff\x2f\0"
sys.stdout.buffer.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480) + b"MTrk" + struct.pack(">I", len(t)) + t)' >"plain song.mid"
encoder=$("$tool" --version | sed 's/^dorvik-midi /Dorvik Midi Player /')

for ext in mp3 flac m4a aac ogg; do
    "$tool" export named.mid --soundfont "$sf2" -o "named.$ext" >/dev/null 2>err || { fail "$ext: $(cat err)"; continue; }
    [ "$(tag "named.$ext" title)" = "Gymnopédie No. 1" ] || fail "$ext: title: $(tags "named.$ext")"
    [ "$(tag "named.$ext" composer)" = "Erik Satie" ] || fail "$ext: composer: $(tags "named.$ext")"
    [ "$(tag "named.$ext" copyright)" = "(c) 1888" ] || fail "$ext: copyright: $(tags "named.$ext")"
    [ "$(tag "named.$ext" encoder)" = "$encoder" ] || fail "$ext: encoder: $(tags "named.$ext")"
done
"$tool" export named.mid --soundfont "$sf2" --title "My Take" -o titled.mp3 >/dev/null
[ "$(tag titled.mp3 title)" = "My Take" ] || fail "--title: $(tags titled.mp3)"
"$tool" export "plain song.mid" --soundfont "$sf2" -o plain.flac >/dev/null
[ "$(tag plain.flac title)" = "plain song" ] || fail "a song with no name: $(tags plain.flac)"
[ -z "$(tag plain.flac composer)" ] || fail "a song with no composer has none: $(tags plain.flac)"
# A WAV file is titled by its name too.
"$tool" render --soundfont "$sf2" "plain song.mid" -o "Take 2.wav" >/dev/null
"$tool" export "Take 2.wav" -o take.ogg >/dev/null
[ "$(tag take.ogg title)" = "Take 2" ] || fail "a WAV file's export: $(tags take.ogg)"
passed
