#!/bin/sh
# Songs straight to every format: `export SONG.mid -o OUT.x` renders and encodes in one go, leaves
# only OUT behind, and says what it wrote; render, export and video take the player's SoundFont
# (the settings file's, else the system's General MIDI one) when none is named; batch export takes
# songs and WAV files alike and ends with a summary.
#
# Usage: export_song.sh DORVIK_MIDI MAKE_DEMO_SONG SOUNDFONT
set -u
tool=$(realpath "$1") make_song=$(realpath "$2") sf2=$3
. "$(dirname "$0")/case_folder.sh"
codec() { ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$1" 2>/dev/null; }

export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME/Dorvik Midi Player" out
echo "[Soundfont] = $sf2" >"$XDG_CONFIG_HOME/Dorvik Midi Player/settings.ini"
"$make_song" --seconds 2 song.mid >/dev/null || exit 1

# Each format from the song, without --soundfont: the file asked for and nothing else.
while read -r ext want; do
    "$tool" export song.mid -o "out/song.$ext" >said 2>err || fail "$ext: export failed: $(cat err)"
    [ "$(codec "out/song.$ext")" = "$want" ] || fail "$ext: expected $want, got '$(codec "out/song.$ext")'"
    grep -q "^out/song.$ext: " said || fail "$ext: expected it to say what it wrote, got: $(cat said)"
done <<ROWS
wav pcm_s16le
ogg vorbis
flac flac
m4a alac
aac aac
mp3 mp3
ROWS
[ "$(ls -A out | wc -l)" -eq 6 ] || fail "expected the six outputs and nothing else in out/: $(ls -A out)"

# The settings' SoundFont is the one named by hand; export's WAV is render's render.
"$tool" render --soundfont "$sf2" song.mid -o named.wav >/dev/null || fail "render with --soundfont failed"
"$tool" render song.mid -o settings.wav >said || fail "render with the settings' SoundFont failed"
cmp -s named.wav settings.wav || fail "render without --soundfont should use the settings' SoundFont"
cmp -s named.wav out/song.wav || fail "export of a song to WAV should be what render writes"
grep -q '^settings.wav: ' said || fail "render should say what it wrote: $(cat said)"
# A settings file that names no SoundFont leaves the system's General MIDI one.
: >"$XDG_CONFIG_HOME/Dorvik Midi Player/settings.ini"
"$make_song" --seconds 1 short.mid >/dev/null
"$tool" render short.mid -o fallback.wav >/dev/null 2>err || fail "render with the system's SoundFont failed: $(cat err)"
"$tool" render --soundfont /usr/share/sounds/sf2/default-GM.sf2 short.mid -o system.wav >/dev/null
cmp -s fallback.wav system.wav || fail "without a SoundFont in the settings, the system's should be used"
echo "[Soundfont] = $sf2" >"$XDG_CONFIG_HOME/Dorvik Midi Player/settings.ini"

# A part of a song; a song that does not load fails with nothing written.
"$tool" export song.mid --from 0.5 --to 1.5 -o part.flac >said || fail "export of a part failed"
grep -q '^part.flac: FLAC, 1.0 s' said || fail "expected the part's length, got: $(cat said)"
printf 'RIFF0000' >bad.mid
"$tool" export bad.mid -o bad.mp3 2>err >said; status=$?
[ $status -eq 1 ] && grep -q 'bad.mid: Not a MIDI file' err || fail "bad.mid: expected status 1 and the reason, got $status: $(cat err)"
[ ! -s said ] && [ ! -e bad.mp3 ] || fail "bad.mid: a failed export should name and leave no file"
[ -z "$(ls -A | grep '^\.')" ] || fail "temporary files were left: $(ls -A)"
"$tool" export named.wav --soundfont "$sf2" -o x.mp3 2>/dev/null; [ $? -eq 2 ] ||
    fail "--soundfont on a WAV file should be a usage error"
# Clicks and transposition are rendered as render renders them, and only a song takes them.
"$tool" render song.mid --metronome --transpose 3 -o clicks.wav >/dev/null || fail "render --metronome failed"
"$tool" export song.mid --metronome --transpose 3 -o clicks-export.wav >/dev/null || fail "export --metronome failed"
cmp -s clicks.wav clicks-export.wav || fail "export --metronome --transpose should be what render writes"
cmp -s clicks.wav named.wav && fail "--metronome --transpose 3 should change the sound"
"$tool" export named.wav --transpose 2 -o x.mp3 2>/dev/null; [ $? -eq 2 ] ||
    fail "--transpose on a WAV file should be a usage error"

# batch export over songs and WAV files; the summary ends standard error; a failure names no output.
mkdir -p in/sub && cp song.mid in/ && cp named.wav in/sub/ && cp bad.mid in/sub/
"$tool" batch export --format mp3 -o mp3s in >report.jsonl 2>err; status=$?
[ $status -eq 1 ] || fail "batch: expected status 1 for the bad song, got $status"
[ "$(codec mp3s/song.mp3)" = mp3 ] && [ "$(codec mp3s/sub/named.mp3)" = mp3 ] || fail "batch: expected both MP3s: $(find mp3s)"
grep -q '"input": "in/sub/bad.mid", "output": null, "status": "failed"' report.jsonl ||
    fail "batch: the failed job should name no output: $(grep bad report.jsonl)"
[ "$(tail -n1 err)" = "dorvik-midi: batch export: 2 of 3 files done, 0 skipped, 1 failed" ] ||
    fail "batch: expected the summary last on standard error, got: $(tail -n1 err)"
passed
