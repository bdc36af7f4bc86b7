#!/usr/bin/env bash
# How well the two hands are found in a piano piece that comes in one track: real two-hand pieces
# whose hands have tracks of their own are merged into one track on one channel, read again, and
# each note's hand is scored against the hand its own track gave it. Prints one line per piece and
# the share of notes in the right hand over all of them, beside a fixed split at middle C, and the
# same for each half of the pieces taken in turn, so that a change tuned on one half can be checked
# on the other; then the same pieces as a person plays them, every note a little early or late.
# The pieces are the two-hand piano files among those given, or else found in Debian packages,
# downloaded into a cache folder outside the repository (none of them is ever committed):
#  - the demo scores of the MuseScore packages, made into MIDI files by musescore3, one track per
#    staff ("Reunion", in both packages, and "All Dudes" are written for two hands on two staves);
#  - the MIDI files of the packages bench/midi_corpus.sh downloads, and of a game's music package
#    whose piano tunes keep a track per part;
#  - the examples of LilyPond's manuals written on a piano staff, made into MIDI files by lilypond
#    (one track per staff) when it is installed: short excerpts, scored as a group of their own,
#    with the excerpts of real pieces that a LilyPond editor's package shows its music fonts on;
#  - the example compositions kept inside a MIDI sequencer's program that have a piano's two
#    staves (the solo of a piano concerto's slow movement, the piano parts of pieces for cello
#    and for mandolin, an improvisation), each staff written out as a track of a MIDI file;
#  - the opening bars of the piano pieces among a music typesetter's ABC examples, made into MIDI
#    files by abc2midi (unpacked, not installed), scored with the excerpts.
# A piece whose tracks strike chords no hand can span is not written hand by hand: it is shown but
# left out of the figures. Pieces that hold the same notes are scored once, and so is an example of
# the manuals typeset more than once (lilypond names its further scores NAME-1, NAME-2...): the
# versions differ in a few notes at most, and counting them all would weigh one excerpt twice.
# Usage: bench/hand_split.sh [BUILD_DIR] [FILE.mid...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
shift || true
tool=$build/src/cli/dorvik-midi
[ -x "$tool" ] || { echo "hand_split: build $tool first" >&2; exit 1; }
files=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The reading and writing of MIDI bytes that the Python steps below share.
cat >"$work/smf.py" <<'PY'
import struct


def vlq(v):
    out = [v & 0x7F]
    v >>= 7
    while v:
        out.append((v & 0x7F) | 0x80)
        v >>= 7
    return bytes(reversed(out))


def tracks(data):
    """The bodies of a file's track chunks, in order."""
    pos = 8 + struct.unpack(">I", data[4:8])[0]
    while pos + 8 <= len(data):
        cid, length = data[pos:pos + 4], struct.unpack(">I", data[pos + 4:pos + 8])[0]
        if cid == b"MTrk":
            yield data[pos + 8:pos + 8 + length]
        pos += 8 + length


def number(body, i):
    v = 0
    while body[i] & 0x80:
        v, i = (v << 7) | (body[i] & 0x7F), i + 1
    return (v << 7) | body[i], i + 1


def events(body, track):
    """A track's channel and meta events but its end, each (tick, track, order, bytes)."""
    i, tick, running, out = 0, 0, 0, []
    while i < len(body):
        delta, i = number(body, i)
        tick += delta
        status = body[i]
        if status & 0x80:
            i += 1
        else:
            status = running
        if status == 0xFF:
            kind = body[i]
            length, start = number(body, i + 1)
            if kind != 0x2F:
                out.append((tick, track, len(out), bytes([0xFF, kind]) + vlq(length) + body[start:start + length]))
            i = start + length
        elif status in (0xF0, 0xF7):
            length, start = number(body, i)
            i = start + length
        else:
            running = status
            n = 1 if status & 0xF0 in (0xC0, 0xD0) else 2
            out.append((tick, track, len(out), bytes([status]) + body[i:i + n]))
            i += n
    return out


def chunk(timed):
    """A track chunk of the events: tuples of a tick, what orders a tick's events, and the
    event's bytes last."""
    body, now = b"", 0
    for tick, *_, e in sorted(timed):
        body, now = body + vlq(tick - now) + e, tick
    body += b"\x00\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(body)) + body
PY
export PYTHONPATH=$work

# Downloads and unpacks Debian package $2 into folder $1 once.
unpack() {
    mkdir -p "$1/debs" "$1/files"
    ls "$1/debs/${2}"_*.deb >/dev/null 2>&1 ||
        (cd "$1/debs" && apt-get download "$2" >/dev/null 2>&1) || { echo "($2 is not available here)" >&2; return 1; }
    [ -d "$1/files/$2" ] || dpkg-deb -x "$1/debs/${2}"_*.deb "$1/files/$2"
}

if [ "${#files[@]}" -eq 0 ]; then
    cache=${XDG_CACHE_HOME:-$HOME/.cache}/dorvik-midi-corpus
    [ -d "$cache/files" ] || bench/midi_corpus.sh "$build" >/dev/null || true
    unpack "$cache/hands" freedink-data || true
    mapfile -d '' files < <(find "$cache/files" "$cache/hands/files" -type f \( -iname '*.mid' -o -iname '*.midi' \) -print0 2>/dev/null | sort -z)
    export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
    if command -v musescore3 >/dev/null; then
        # The MuseScore packages' demo scores, downloaded as bench/notation_accuracy.sh does and made
        # into MIDI files once; the ones not written for two hands are passed over below.
        scores=$cache/musescore
        for p in musescore-common musescore3-common; do unpack "$scores" "$p" || true; done
        while IFS= read -r -d '' score; do
            pkg=${score#"$scores/files/"}
            midi=$scores/${pkg%%/*}-$(basename "${score%.*}").mid
            [ -s "$midi" ] || musescore3 "$score" -o "$midi" >/dev/null 2>&1 || continue
            files+=("$midi")
        done < <(find "$scores/files" -path '*/demos/*' -name '*.msc[xz]' -print0 2>/dev/null | sort -z)
    fi
    if command -v lilypond >/dev/null && unpack "$cache/lilypond" lilypond-doc-html; then
        # Every score of the manuals' examples on a piano staff is given a MIDI output as well as its
        # printed one; lilypond writes each staff's notes to a track of their own.
        ly=$cache/lilypond
        mkdir -p "$ly/midi"
        cat >"$ly/midi.ily" <<'LY'
#(define toplevel-score-handler
   (let ((print toplevel-score-handler))
     (lambda (score)
       (ly:score-add-output-def! score (ly:output-def-clone $defaultmidi))
       (print score))))
#(define toplevel-music-handler
   (lambda (music)
     (let ((score (scorify-music music)))
       (ly:score-add-output-def! score (ly:output-def-clone $defaultmidi))
       (ly:score-add-output-def! score (ly:output-def-clone $defaultlayout))
       (collect-scores-for-book score))))
LY
        if [ ! -e "$ly/midi/done" ]; then
            while IFS= read -r -d '' src; do
                sed "0,/^\\\\include \"lilypond-book-preamble.ly\"/s||&\\n\\\\include \"$ly/midi.ily\"|" "$src" >"$ly/midi/$(basename "$src")"
            done < <(find "$ly/files" -name 'lily-*.ly' -print0 | xargs -0 grep -lZ 'PianoStaff')
            (cd "$ly/midi" && find . -name '*.ly' -print0 |
                xargs -0 -n 40 -P 2 lilypond -s -dno-print-pages -dmidi-extension=mid >/dev/null 2>&1) || true
            touch "$ly/midi/done"
        fi
        # A LilyPond editor's package shows its music fonts on excerpts of real pieces, two of them
        # (a keyboard variation and a piano sonata) on a piano staff: made into MIDI files the same
        # way, and scored with the manuals' examples.
        if [ ! -e "$ly/midi/fonts-done" ] && unpack "$ly" frescobaldi; then
            while IFS= read -r -d '' src; do
                sed "0,/^\\\\include \"lilypond-book-preamble.ly\"/s||&\\n\\\\include \"$ly/midi.ily\"|" "$src" >"$ly/midi/$(basename "$src")"
            done < <(find "$ly/files/frescobaldi" -path '*/templates/*.ly' -print0 | xargs -0 grep -lZ 'PianoStaff')
            (cd "$ly/midi" && lilypond -s -dno-print-pages -dmidi-extension=mid musicfont-*.ly >/dev/null 2>&1) || true
            touch "$ly/midi/fonts-done"
        fi
        mapfile -d '' -O "${#files[@]}" files < <(find "$ly/midi" -name '*.mid' -print0 | sort -z)
    fi
    # A harpsichord allemande among the examples of a TeX music typesetter, written on two staves
    # of two voices each, made into a MIDI file by the typesetter (its tracks are merged staff by
    # staff below).
    pmx=$cache/pmx
    if unpack "$pmx" texlive-music && unpack "$pmx" texlive-binaries; then
        if [ ! -s "$pmx/mwalmnd.mid" ]; then
            find "$pmx/files/texlive-music" -name mwalmnd.pmx -exec cp {} "$pmx/" \;
            (cd "$pmx" && "$pmx/files/texlive-binaries/usr/bin/pmxab" mwalmnd.pmx >/dev/null 2>&1) || true
        fi
        [ -s "$pmx/mwalmnd.mid" ] && files+=("$pmx/mwalmnd.mid")
    fi
    # The example compositions a MIDI sequencer keeps inside its program, as gzip'd XML documents:
    # the ones with two staves for a piano (a piano concerto's solo, the piano parts of a cello's
    # and of a mandolin's pieces, a recorded improvisation) are written out once as MIDI files,
    # one track per staff, ties joined and ornaments played as their main notes.
    rg=$cache/rosegarden
    if unpack "$rg" rosegarden && [ ! -e "$rg/midi/done" ]; then
        mkdir -p "$rg/midi"
        python3 - "$rg/files/rosegarden/usr/bin/rosegarden" "$rg/midi" <<'PY' && touch "$rg/midi/done"
import re, struct, sys, unicodedata, zlib
import xml.etree.ElementTree as ET
from smf import chunk

program, folder = sys.argv[1], sys.argv[2]

def staff_chunk(timed):
    """A track chunk of (tick, bytes) events, a tick's note-offs before its note-ons."""
    return chunk([(t, e[0] & 0xF0 != 0x80, i, e) for i, (t, e) in enumerate(timed)])

def value(event, name, default=None):
    for p in event.iter("property"):
        if p.get("name") == name:
            return p.get("int") or p.get("bool") or p.get("string")
    return default

def notes(segment):
    """A segment's notes, (start, end, key, velocity), tied notes joined. An event starts where
    the one before it ended unless it gives its time; a chord's notes start together and the
    next event follows the shortest of them."""
    now, out, tied = int(segment.get("start", 0)), [], {}
    stop = int(segment.get("endmarker", 1 << 40))
    transpose = int(segment.get("transpose", 0))

    def take(event):
        nonlocal now
        if "absoluteTime" in event.attrib:
            now = int(event.get("absoluteTime"))
        now += int(event.get("timeOffset", 0))
        duration = int(event.get("duration", 0))
        if event.get("type") == "note" and duration > 0 and now < stop:
            key, end = int(value(event, "pitch")) + transpose, min(now + duration, stop)
            held = tied.pop(key, None)
            if held is not None and value(event, "tiedback") == "true" and out[held][1] == now:
                out[held] = out[held][:1] + (end,) + out[held][2:]
            else:
                out.append((now, end, key, int(value(event, "velocity", 100))))
                held = len(out) - 1
            if value(event, "tiedforward") == "true":
                tied[key] = held
        return now, duration

    for item in segment:
        if item.tag == "event":
            start, duration = take(item)
            now = start + duration
        elif item.tag == "chord":
            shortest = 0
            for event in item.iter("event"):
                duration = take(event)[1]
                if duration and (not shortest or duration < shortest):
                    shortest = duration
            now += shortest
        elif item.tag == "group":
            for event in item.iter("event"):
                start, duration = take(event)
                now = start + duration
    return out

data = open(program, "rb").read()
for found in re.finditer(rb"\x1f\x8b\x08", data):
    try:
        doc = zlib.decompressobj(31).decompress(data[found.start():found.start() + (8 << 20)])
    except zlib.error:
        continue
    if b"<rosegarden-data" not in doc[:4096]:
        continue
    root = ET.fromstring(doc)
    composition = root.find("composition")
    if composition is None:
        continue
    title = next((p.get("value", "") for p in root.iter("property") if p.get("name") == "title"), "")
    # Templates, tests and the demonstrations of the editor's own features are no pieces.
    if re.search(r"demo|template|test|titled", title, re.I):
        continue
    segments = [s for s in root.findall("segment") if "triggerid" not in s.attrib]
    tracks = sorted(composition.findall("track"), key=lambda t: int(t.get("position", 0)))
    staves = []
    for track in tracks:
        mine = [s for s in segments if s.get("track") == track.get("id")]
        if track.get("label") == "Piano" or any(re.search(r"\bhand\b", s.get("label", ""), re.I) for s in mine):
            staves.append([n for s in mine for n in notes(s)])
    if len(staves) != 2 or min(len(s) for s in staves) < 8:
        continue
    # The tempo is kept in hundred-thousandths of a beat a minute, the times in 960ths of a beat,
    # and a piece may start before zero with an upbeat.
    tempos = [(int(t.get("time")), round(6e12 / int(t.get("tempo")))) for t in composition.findall("tempo") if t.get("tempo")]
    origin = min([0] + [t for t, _ in tempos] + [n[0] for s in staves for n in s])
    chunks = [staff_chunk([(t - origin, b"\xff\x51\x03" + us.to_bytes(3, "big")) for t, us in tempos])]
    for channel, staff in enumerate(staves):
        events = [(0, bytes([0xC0 | channel, 0]))]
        for start, end, key, velocity in staff:
            events += [(start - origin, bytes([0x90 | channel, key, max(1, min(velocity, 127))])),
                       (end - origin, bytes([0x80 | channel, key, 0]))]
        chunks.append(staff_chunk(events))
    if not title:
        title = next((t.get("label") for t in tracks if t.get("label", "").endswith(".rg")), "untitled")
    name = unicodedata.normalize("NFKD", title).encode("ascii", "ignore").decode().lower()
    name = re.sub(r"[^a-z0-9]+", "-", re.sub(r"\.rg$", "", name)).strip("-")
    with open("%s/rosegarden-%s.mid" % (folder, name), "wb") as out:
        out.write(b"MThd" + struct.pack(">IHHH", 6, 1, len(chunks), 960) + b"".join(chunks))
PY
    fi
    [ -d "$rg/midi" ] && mapfile -d '' -O "${#files[@]}" files < <(find "$rg/midi" -name '*.mid' -print0 | sort -z)
    # The opening bars of the piano pieces among a music typesetter's ABC examples (a song, a
    # sonata, a prelude, a piece with a staff of two voices), each staff's voices written by the
    # ABC converter to a track each and merged here into one track a staff, as the score groups
    # them, once.
    abc=$cache/abc
    if unpack "$abc" abcm2ps && unpack "$abc" abcmidi && [ ! -e "$abc/midi/done" ]; then
        mkdir -p "$abc/midi"
        python3 - "$abc/files/abcmidi/usr/bin/abc2midi" "$abc/midi" "$abc"/files/abcm2ps/usr/share/doc/abcm2ps/examples/voices.abc <<'PY' && touch "$abc/midi/done"
import os, re, struct, subprocess, sys
from smf import chunk, events, tracks

converter, folder, source = sys.argv[1:4]

text = open(source, encoding="latin-1").read()
# The file's tunes are in sections under headings: the piano ones are under the piano heading.
section = re.search(r"^% --- piano ---$(.*?)(?=^% --- )", text, re.M | re.S).group(1)
for tune in re.split(r"\n(?=X:)", section):
    number_line = re.search(r"^X:\s*(\d+)", tune, re.M)
    staves = re.search(r"^%%staves\s*\{(.*)\}", tune, re.M)
    if not number_line or not staves:
        continue
    # Voices in parentheses share a staff; the converter gives the voices tracks in the order
    # they are first named, after the tempo track.
    groups = [(shared or alone).split() for shared, alone in re.findall(r"\(([^)]*)\)|(\S+)", staves.group(1))]
    voices = list(dict.fromkeys(re.findall(r"^V:\s*(\S+)", tune, re.M)))
    if len(groups) != 2 or sorted(v for g in groups for v in g) != sorted(voices):
        continue
    name = "abc-%s-%s" % (os.path.splitext(os.path.basename(source))[0], number_line.group(1))
    midi = os.path.join(folder, name + ".mid")
    subprocess.run([converter, source, number_line.group(1), "-o", midi], capture_output=True, check=True)
    data = open(midi, "rb").read()
    bodies = list(tracks(data))
    out = [b"MTrk" + struct.pack(">I", len(bodies[0])) + bodies[0]]
    for group in groups:
        # A staff's voices play on one channel, as a hand's notes do.
        staff = [e for k, v in enumerate(group) for e in events(bodies[1 + voices.index(v)], k)]
        channel = next((e[0] & 0x0F for *_, e in staff if e[0] < 0xF0), 0)
        out.append(chunk([(t, k, o, e if e[0] >= 0xF0 else bytes([e[0] & 0xF0 | channel]) + e[1:]) for t, k, o, e in staff]))
    with open(midi, "wb") as f:
        f.write(data[:8] + struct.pack(">HHH", 1, len(out), struct.unpack(">H", data[12:14])[0]) + b"".join(out))
PY
    fi
    [ -d "$abc/midi" ] && mapfile -d '' -O "${#files[@]}" files < <(find "$abc/midi" -name '*.mid' -print0 | sort -z)
fi
XDG_DATA_HOME=$work/data python3 - "$tool" "$work" "${files[@]}" <<'PY'
import json, os, random, re, struct, subprocess, sys
from smf import chunk, events, tracks

tool, work, files = sys.argv[1], sys.argv[2], sys.argv[3:]

def info(path):
    out = subprocess.run([tool, "info", "--json", path], capture_output=True)
    return json.loads(out.stdout) if out.returncode == 0 else None

def on_channel_0(e):
    return e if e[0] >= 0xF0 else bytes([e[0] & 0xF0]) + e[1:]

def merged(data):
    """Every track's events in one track, every channel's notes and programs on channel 0."""
    division = struct.unpack(">H", data[12:14])[0]
    kept = []
    for n, body in enumerate(tracks(data)):
        for tick, track, order, e in events(body, n):
            if (e[0] == 0xFF and e[1] in (0x51, 0x58)) or (e[0] < 0xF0 and e[0] & 0xF0 in (0x80, 0x90, 0xC0) and e[0] & 0x0F != 9):
                kept.append((tick, track, order, on_channel_0(e)))
    return b"MThd" + struct.pack(">IHHH", 6, 0, 1, division) + chunk(kept)

def staves(data):
    """The typesetter's file has a track for each voice, two voices a staff in staff order: each
    staff's two are merged into one track, a hand's, on channel 0 as the scores above give."""
    division = struct.unpack(">H", data[12:14])[0]
    bodies = list(tracks(data))
    out = [b"MTrk" + struct.pack(">I", len(bodies[0])) + bodies[0]]
    for first in range(1, len(bodies) - 1, 2):
        out.append(chunk([(t, v, o, on_channel_0(e)) for v in (0, 1) for t, _, o, e in events(bodies[first + v], v)]))
    return b"MThd" + struct.pack(">IHHH", 6, 1, len(out), division) + b"".join(out)

def unplayable(part):
    """How many of a track's onsets span more keys than one hand reaches, even rolled, and of how many."""
    notes, wide, onsets, i = sorted((start, key) for key, start, end, velocity in part["notes"]), 0, 0, 0
    while i < len(notes):
        j = i
        while j < len(notes) and notes[j][0] - notes[i][0] <= 0.03:
            j += 1
        keys = [k for _, k in notes[i:j]]
        wide += max(keys) - min(keys) > 19
        onsets += 1
        i = j
    return wide, onsets

def played(data, seed):
    """The piece as a person plays it: every note struck and let go up to a twenty-fifth of a beat
    early or late (20 ms at 120 beats a minute), the same for its start and its end."""
    rng = random.Random(seed)
    division = struct.unpack(">H", data[12:14])[0]
    most = max(1, division // 25)
    out = []
    for n, body in enumerate(tracks(data)):
        shifts, timed = {}, []
        for tick, track, order, e in events(body, n):
            if e[0] < 0xF0 and e[0] & 0xF0 in (0x80, 0x90):
                key = (e[0] & 0x0F, e[1])
                if e[0] & 0xF0 == 0x90 and e[2] > 0:
                    shift = rng.randint(-most, most)
                    shifts.setdefault(key, []).append(shift)
                else:
                    shift = shifts[key].pop(0) if shifts.get(key) else 0
                tick = max(0, tick + shift)
            timed.append((tick, track, order, e))
        out.append(chunk(timed))
    return data[:10] + struct.pack(">HH", len(out), division) + b"".join(out)

def score(data):
    """The split's and middle C's notes in the hand they were written for, of how many, and how
    many onsets strike chords no hand spans, of how many; None for a file that is no piece for two
    hands in tracks of their own."""
    two = os.path.join(work, "two.mid")
    with open(two, "wb") as out:
        out.write(data)
    song = info(two)
    if not song or song.get("reading") != "hands" or song.get("hands") != "track":
        return None
    parts = song["parts"][:2]
    if min(len(p["notes"]) for p in parts) < 8:
        return None
    # The right hand is the track that plays higher on the whole, whichever staff came first.
    mean = [sum(n[0] for n in p["notes"]) / len(p["notes"]) for p in parts]
    truth = {}
    for track, part in enumerate(parts):
        hand = track if mean[0] >= mean[1] else 1 - track
        for key, start, end, velocity in part["notes"]:
            truth[(key, round(start, 4))] = hand
    wide, onsets = (sum(c) for c in zip(*(unplayable(p) for p in parts)))
    one = os.path.join(work, "one.mid")
    with open(one, "wb") as out:
        out.write(merged(data))
    split = info(one)
    if not split or split.get("hands") != "pitch":
        return truth, None, wide, onsets
    n = ok = mid = 0
    for hand, part in enumerate(split["parts"][:2]):
        for key, start, end, velocity in part["notes"]:
            want = truth.get((key, round(start, 4)))
            if want is None:
                continue
            n += 1
            ok += want == hand
            mid += want == (0 if key >= 60 else 1)
    return truth, (n, ok, mid), wide, onsets

scores, seen, played_scores = [], [], []
for path in files:
    with open(path, "rb") as f:
        data = f.read()
    if os.path.basename(os.path.dirname(path)) == "pmx":
        data = staves(data)
    name = os.path.basename(path)
    result = score(data)
    if result is None:
        continue
    truth, counts, wide, onsets = result
    # One piece in two packages' versions, or two examples of one excerpt, is scored once.
    content = set(truth.items())
    if any(len(content & other) * 10 >= 9 * max(len(content), len(other)) for other in seen):
        continue
    seen.append(content)
    if counts is None:
        print("%-40s not split" % name)
        continue
    n, ok, mid = counts
    if not n:
        continue
    line = "%-40s %5d notes  split %5.1f %%  middle C %5.1f %%" % (name, n, 100 * ok / n, 100 * mid / n)
    if wide * 100 > onsets:
        print(line + "  (left out: %d chords beyond a hand's reach)" % wide)
        continue
    print(line)
    group = "excerpts" if re.search(r"/(lilypond|abc)/", path) else "pieces"
    scores.append((group, name, n, ok, mid))
    result = score(played(data, len(scores)))
    if result and result[1] and result[1][0]:
        played_scores.append((group, name) + result[1])

# Which example each excerpt's score comes from, and the one score of it that is counted: its first
# (NAME.mid, not NAME-1.mid). The halves are still dealt out over every score in turn, so that
# leaving a repeat out moves no other piece from the half it was tuned on to the one it is checked
# on, or back.
def example(row):
    """The example's name and which of its scores the row is (0: the first)."""
    stem = os.path.splitext(row[1])[0]
    m = re.fullmatch(r"(.*-[0-9a-f]{8})-(\d+)", stem)
    return (m.group(1), int(m.group(2))) if row[0] == "excerpts" and m else (stem, 0)

kept = {}
for r in scores:
    name, nth = example(r)
    if name not in kept or nth < example(kept[name])[1]:
        kept[name] = r
repeats = [r for r in scores if kept[example(r)[0]] is not r]
for r in sorted(repeats):
    print("%-40s another score of %s, counted once" % (r[1], example(r)[0]))

def total(label, rows):
    rows = [r for r in rows if all(r is not x for x in repeats)]
    n, ok, mid = (sum(r[i] for r in rows) for i in (2, 3, 4))
    if n:
        print("%-26s %3d of them, %6d notes  split %5.1f %%  middle C %5.1f %%" % (label, len(rows), n, 100 * ok / n, 100 * mid / n))

if not scores:
    print("no two-hand piano pieces among the files", file=sys.stderr)
    sys.exit(1)
for group in ("pieces", "excerpts"):
    rows = sorted(r for r in scores if r[0] == group)
    total(group + ":", rows)
    total(group + ", first half:", rows[0::2])
    total(group + ", second half:", rows[1::2])
total("all:", scores)
# The same pieces as played, so that a split that holds only for notes written at one instant shows.
for group in ("pieces", "excerpts"):
    total(group + " as played:", [r for r in played_scores if r[0] == group and all(r[1] != x[1] for x in repeats)])
total("all as played:", [r for r in played_scores if all(r[1] != x[1] for x in repeats)])
PY
