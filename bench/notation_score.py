#!/usr/bin/env python3
"""Scores written music against the MIDI file it was made from, note by note.

For every note of the MIDI file (percussion left out) it looks for a written note of the same
pitch whose onset lies within 1/24 of a quarter of the note's; a tie chain counts as one written
note, and a note's attack (a rolled chord's keys sounding one after another) moves its onset. A
note found there is at the right onset; its written duration is right when it lies within
max(1/8 of a quarter, 20%) of the note's sounding one. Both counts are of the MIDI file's notes.
With --written, attacks are left out: the onsets are scored where the notes are written.

Usage: notation_score.py [--written] SONG.mid SCORE.musicxml   prints: notes onsetRight durationRight
"""
import sys
import xml.etree.ElementTree as ET
from fractions import Fraction

STEP = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def read_midi(path):
    data = open(path, "rb").read()
    if data[:4] == b"RIFF":
        data = data[data.find(b"MThd"):]
    division = (data[12] << 8) | data[13]
    pos = 8 + int.from_bytes(data[4:8], "big")
    notes, sounding = [], {}
    while pos + 8 <= len(data):
        kind, length = data[pos:pos + 4], int.from_bytes(data[pos + 4:pos + 8], "big")
        body, pos = data[pos + 8:pos + 8 + length], pos + 8 + length
        if kind != b"MTrk":
            continue
        i, tick, running = 0, 0, 0
        while i < len(body):
            delta = 0
            while True:
                b = body[i]
                i += 1
                delta = (delta << 7) | (b & 0x7F)
                if b < 0x80:
                    break
            tick += delta
            status = body[i]
            if status >= 0x80:
                i += 1
            else:
                status = running
            if status == 0xFF:
                i += 1
                n, i = vlq(body, i)
                i += n
                continue
            if status in (0xF0, 0xF7):
                n, i = vlq(body, i)
                i += n
                continue
            running = status
            kind, channel = status & 0xF0, status & 0x0F
            size = 1 if kind in (0xC0, 0xD0) else 2
            d = body[i:i + size]
            i += size
            if kind not in (0x80, 0x90) or channel == 9:
                continue
            key = (channel, d[0])
            if key in sounding:  # a note-off, or the key struck again, ends the sounding note
                start = sounding.pop(key)
                if tick > start:
                    notes.append((d[0], Fraction(start, division), Fraction(tick - start, division)))
            if kind == 0x90 and d[1] > 0:
                sounding[key] = tick
    return notes


def vlq(body, i):
    value = 0
    while True:
        b = body[i]
        i += 1
        value = (value << 7) | (b & 0x7F)
        if b < 0x80:
            return value, i


def read_musicxml(path):
    root = ET.parse(path).getroot()
    written = []
    for part in root.iter("part"):
        divisions, start = 1, Fraction(0)
        open_ties = {}  # (staff, voice, pitch) -> index of the written note a tie continues
        for measure in part.iter("measure"):
            at, longest, last_onset = start, start, start
            for el in measure:
                if el.tag == "attributes" and el.find("divisions") is not None:
                    divisions = int(el.find("divisions").text)
                elif el.tag == "backup":
                    at -= Fraction(int(el.find("duration").text), divisions)
                elif el.tag == "forward":
                    at += Fraction(int(el.find("duration").text), divisions)
                    longest = max(longest, at)
                elif el.tag == "note":
                    if el.find("grace") is not None:
                        continue
                    duration = Fraction(int(el.find("duration").text), divisions) if el.find("duration") is not None else Fraction(0)
                    if el.find("chord") is not None:
                        onset = last_onset
                    else:
                        onset = at
                        at += duration
                        longest = max(longest, at)
                    last_onset = onset
                    # A note's attack moves where it sounds, not where it is written (a rolled
                    # chord's keys one after another); its end stays.
                    attack = Fraction(0 if WRITTEN else int(el.get("attack", "0")), divisions)
                    onset, duration = onset + attack, duration - attack
                    pitch = el.find("pitch")
                    if pitch is None:
                        continue
                    alter = pitch.find("alter")
                    key = (int(pitch.find("octave").text) + 1) * 12 + STEP[pitch.find("step").text] + \
                        (int(float(alter.text)) if alter is not None else 0)
                    ties = {t.get("type") for t in el.findall("tie")}
                    tie_id = (el.findtext("staff", "1"), el.findtext("voice", "1"), key)
                    if "stop" in ties and tie_id in open_ties:
                        index = open_ties.pop(tie_id)
                        k, o, d = written[index]
                        written[index] = (k, o, d + duration)
                    else:
                        index = len(written)
                        written.append((key, onset, duration))
                    if "start" in ties:
                        open_ties[tie_id] = index
            start = longest
    return written


def score(midi_notes, written):
    by_key = {}
    for index, (key, onset, duration) in enumerate(written):
        by_key.setdefault(key, []).append((onset, duration, index))
    used = set()
    onset_right = duration_right = 0
    for key, onset, duration in sorted(midi_notes, key=lambda n: n[1]):
        best = None
        for w_onset, w_duration, index in by_key.get(key, []):
            if index in used or abs(w_onset - onset) > Fraction(1, 24):
                continue
            if best is None or abs(w_onset - onset) < abs(best[0] - onset):
                best = (w_onset, w_duration, index)
        if best is None:
            continue
        used.add(best[2])
        onset_right += 1
        if abs(best[1] - duration) <= max(Fraction(1, 8), duration / 5):
            duration_right += 1
    return len(midi_notes), onset_right, duration_right


WRITTEN = False

if __name__ == "__main__":
    args = sys.argv[1:]
    if args and args[0] == "--written":
        WRITTEN, args = True, args[1:]
    n, onset, duration = score(read_midi(args[0]), read_musicxml(args[1]))
    print(n, onset, duration)
