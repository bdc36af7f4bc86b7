#!/usr/bin/env bash
# How well the two hands are found in a piano piece that comes in one track: real two-hand pieces
# whose hands have tracks of their own are merged into one track on one channel, read again, and
# each note's hand is scored against the hand its own track gave it. Prints one line per piece and
# the share of notes in the right hand over all of them, beside a fixed split at middle C, and the
# same for each half of the pieces taken in turn, so that a change tuned on one half can be checked
# on the other.
# The pieces are the two-hand piano files among those given, or else found in Debian packages,
# downloaded into a cache folder outside the repository (none of them is ever committed):
#  - the demo scores of the MuseScore packages, made into MIDI files by musescore3, one track per
#    staff ("Reunion", in both packages, and "All Dudes" are written for two hands on two staves);
#  - the MIDI files of the packages bench/midi_corpus.sh downloads, and of a game's music package
#    whose piano tunes keep a track per part;
#  - the examples of LilyPond's manuals written on a piano staff, made into MIDI files by lilypond
#    (one track per staff) when it is installed: short excerpts, scored as a group of their own,
#    with the excerpts of real pieces that a LilyPond editor's package shows its music fonts on.
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
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
XDG_DATA_HOME=$work/data python3 - "$tool" "$work" "${files[@]}" <<'PY'
import json, os, re, struct, subprocess, sys

tool, work, files = sys.argv[1], sys.argv[2], sys.argv[3:]

def info(path):
    out = subprocess.run([tool, "info", "--json", path], capture_output=True)
    return json.loads(out.stdout) if out.returncode == 0 else None

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

def on_channel_0(e):
    return e if e[0] >= 0xF0 else bytes([e[0] & 0xF0]) + e[1:]

def chunk(taken):
    """A track chunk of the events, in the order of their ticks."""
    body, now = b"", 0
    for tick, _, _, e in sorted(taken):
        body, now = body + vlq(tick - now) + e, tick
    body += b"\x00\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(body)) + body

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

scores, seen = [], []
for path in files:
    if os.path.basename(os.path.dirname(path)) == "pmx":
        with open(path, "rb") as f, open(os.path.join(work, "staves.mid"), "wb") as out:
            out.write(staves(f.read()))
        song = info(os.path.join(work, "staves.mid"))
    else:
        song = info(path)
    if not song or song.get("reading") != "hands" or song.get("hands") != "track":
        continue
    parts = song["parts"][:2]
    if min(len(p["notes"]) for p in parts) < 8:
        continue
    # The right hand is the track that plays higher on the whole, whichever staff came first.
    mean = [sum(n[0] for n in p["notes"]) / len(p["notes"]) for p in parts]
    truth = {}
    for track, part in enumerate(parts):
        hand = track if mean[0] >= mean[1] else 1 - track
        for key, start, end, velocity in part["notes"]:
            truth[(key, round(start, 4))] = hand
    # One piece in two packages' versions, or two examples of one excerpt, is scored once.
    content = set(truth.items())
    if any(len(content & other) * 10 >= 9 * max(len(content), len(other)) for other in seen):
        continue
    seen.append(content)
    name = os.path.basename(path)
    wide, onsets = (sum(c) for c in zip(*(unplayable(p) for p in parts)))
    one = os.path.join(work, "one.mid")
    with open(path, "rb") as f, open(one, "wb") as out:
        out.write(merged(f.read()))
    split = info(one)
    if not split or split.get("hands") != "pitch":
        print("%-40s not split" % name)
        continue
    n = ok = mid = 0
    for hand, part in enumerate(split["parts"][:2]):
        for key, start, end, velocity in part["notes"]:
            want = truth.get((key, round(start, 4)))
            if want is None:
                continue
            n += 1
            ok += want == hand
            mid += want == (0 if key >= 60 else 1)
    if not n:
        continue
    line = "%-40s %5d notes  split %5.1f %%  middle C %5.1f %%" % (name, n, 100 * ok / n, 100 * mid / n)
    if wide * 100 > onsets:
        print(line + "  (left out: %d chords beyond a hand's reach)" % wide)
        continue
    print(line)
    scores.append(("excerpts" if "/lilypond/" in path else "pieces", name, n, ok, mid))

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
PY
