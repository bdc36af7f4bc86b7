#!/usr/bin/env bash
# How well the two hands are found in a piano piece that comes in one track: real two-hand pieces
# whose hands have tracks of their own are merged into one track on one channel, read again, and
# each note's hand is scored against the hand its own track gave it. Prints one line per piece and
# the share of notes in the right hand over all of them, beside a fixed split at middle C.
# The pieces are the two-hand piano files among those given, or else among the demo scores of
# Debian's MuseScore packages (made into MIDI files by musescore3, one track per staff) and the
# MIDI files of the Debian packages bench/midi_corpus.sh downloads into its cache (none of them is
# ever committed). Of Debian 12's demo scores, "Reunion" (in both packages) and "All Dudes" are
# written for two hands on two staves.
# Usage: bench/hand_split.sh [BUILD_DIR] [FILE.mid...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
shift || true
tool=$build/src/cli/dorvik-midi
[ -x "$tool" ] || { echo "hand_split: build $tool first" >&2; exit 1; }
files=("$@")
if [ "${#files[@]}" -eq 0 ]; then
    cache=${XDG_CACHE_HOME:-$HOME/.cache}/dorvik-midi-corpus
    [ -d "$cache/files" ] || bench/midi_corpus.sh "$build" >/dev/null || true
    mapfile -d '' files < <(find "$cache/files" -type f \( -iname '*.mid' -o -iname '*.midi' \) -print0 | sort -z)
    if command -v musescore3 >/dev/null; then
        # The MuseScore packages' demo scores, downloaded as bench/notation_accuracy.sh does and made
        # into MIDI files once; the ones not written for two hands are passed over below.
        scores=$cache/musescore
        mkdir -p "$scores/debs" "$scores/files"
        export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
        for p in musescore-common musescore3-common; do
            ls "$scores/debs/${p}"_*.deb >/dev/null 2>&1 ||
                (cd "$scores/debs" && apt-get download "$p" >/dev/null 2>&1) || echo "($p is not available here)" >&2
        done
        for deb in "$scores"/debs/*.deb; do
            [ -e "$deb" ] || continue
            name=$(basename "$deb")
            dir=$scores/files/${name%%_*}
            [ -d "$dir" ] || dpkg-deb -x "$deb" "$dir"
        done
        while IFS= read -r -d '' score; do
            pkg=${score#"$scores/files/"}
            midi=$scores/${pkg%%/*}-$(basename "${score%.*}").mid
            [ -s "$midi" ] || musescore3 "$score" -o "$midi" >/dev/null 2>&1 || continue
            files+=("$midi")
        done < <(find "$scores/files" -path '*/demos/*' -name '*.msc[xz]' -print0 2>/dev/null | sort -z)
    fi
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
XDG_DATA_HOME=$work/data python3 - "$tool" "$work" "${files[@]}" <<'PY'
import json, os, struct, subprocess, sys

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

def merged(data):
    """Every track's events in one track, every channel's notes and programs on channel 0."""
    division = struct.unpack(">H", data[12:14])[0]
    pos, events, order = 8 + struct.unpack(">I", data[4:8])[0], [], 0
    while pos + 8 <= len(data):
        cid, ln = data[pos:pos + 4], struct.unpack(">I", data[pos + 4:pos + 8])[0]
        body, pos = data[pos + 8:pos + 8 + ln], pos + 8 + ln
        if cid != b"MTrk":
            continue
        i, tick, rs = 0, 0, 0
        while i < len(body):
            d = 0
            while body[i] & 0x80:
                d = (d << 7) | (body[i] & 0x7F); i += 1
            d = (d << 7) | body[i]; i += 1
            tick += d
            st = body[i]
            if st & 0x80:
                i += 1
            else:
                st = rs
            if st == 0xFF:
                t = body[i]; i += 1; l = 0
                while body[i] & 0x80:
                    l = (l << 7) | (body[i] & 0x7F); i += 1
                l = (l << 7) | body[i]; i += 1
                if t in (0x51, 0x58):
                    events.append((tick, order, bytes([0xFF, t]) + vlq(l) + body[i:i + l]))
                i += l; order += 1
                continue
            if st in (0xF0, 0xF7):
                l = 0
                while body[i] & 0x80:
                    l = (l << 7) | (body[i] & 0x7F); i += 1
                l = (l << 7) | body[i]; i += 1 + l
                continue
            rs = st
            n = 1 if st & 0xF0 in (0xC0, 0xD0) else 2
            if st & 0xF0 in (0x80, 0x90, 0xC0) and st & 0x0F != 9:
                events.append((tick, order, bytes([st & 0xF0]) + body[i:i + n]))
            i += n; order += 1
    events.sort()
    track, now = b"", 0
    for tick, _, e in events:
        track += vlq(tick - now) + e
        now = tick
    track += b"\x00\xff\x2f\x00"
    return b"MThd" + struct.pack(">IHHH", 6, 0, 1, division) + b"MTrk" + struct.pack(">I", len(track)) + track

total = right = middle = 0
for path in files:
    song = info(path)
    if not song or song.get("reading") != "hands" or song.get("hands") != "track":
        continue
    truth = {}
    for hand, part in enumerate(song["parts"][:2]):
        for key, start, end, velocity in part["notes"]:
            truth[(key, round(start, 4))] = hand
    if min(len(p["notes"]) for p in song["parts"][:2]) < 8:
        continue
    one = os.path.join(work, "one.mid")
    with open(path, "rb") as f, open(one, "wb") as out:
        out.write(merged(f.read()))
    split = info(one)
    if not split or split.get("hands") != "pitch":
        print("%-60s not split" % os.path.basename(path))
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
    if n:
        print("%-60s %5d notes  split %5.1f %%  middle C %5.1f %%" % (os.path.basename(path), n, 100 * ok / n, 100 * mid / n))
        total, right, middle = total + n, right + ok, middle + mid
if total:
    print("all: %d notes  split %.1f %%  middle C %.1f %%" % (total, 100 * right / total, 100 * middle / total))
else:
    print("no two-hand piano pieces among the files", file=sys.stderr)
    sys.exit(1)
PY
