#!/usr/bin/python3
"""Writes a song for the MIDI output tests and benchmark, and prints what it holds.

The song: a melody in eighth notes on channel 0 and three-note chords every half note on
channel 1 (with a program and a volume of its own), the tempo going from 120 to 160 quarter
notes a minute half-way. Prints one line per note-on, "SECONDS CHANNEL KEY", in the order of the
song, the seconds on the song's own tempo map.

Usage: midi_song.py OUT.mid [--bars N]
"""
import argparse
import struct

DIVISION = 480


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def track(events):
    """events: (tick, bytes) in any order; ties keep their order."""
    body, last = b"", 0
    for tick, data in sorted(events, key=lambda e: e[0]):
        body += vlq(tick - last) + data
        last = tick
    body += vlq(0) + b"\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(body)) + body


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--bars", type=int, default=4)
    args = parser.parse_args()
    bar = 4 * DIVISION
    change = (args.bars // 2) * bar
    tempos = [(0, 500000), (change, 375000)]

    def seconds(tick):
        if tick < change:
            return tick * 500000 / DIVISION / 1e6
        return change * 500000 / DIVISION / 1e6 + (tick - change) * 375000 / DIVISION / 1e6

    melody, chords, onsets = [], [(0, b"\xc1\x30"), (0, b"\xb1\x07\x64")], []
    scale = [60, 62, 64, 65, 67, 69, 71, 72]
    eighth = DIVISION // 2
    for i in range(args.bars * 8):
        at, key = i * eighth, scale[(i * 3) % len(scale)]
        melody += [(at, bytes([0x90, key, 90])), (at + eighth - 30, bytes([0x80, key, 0]))]
        onsets.append((at, 0, key))
    roots = [48, 53, 55, 50]
    for i in range(args.bars * 2):
        at, root = i * 2 * DIVISION, roots[i % len(roots)]
        for key in (root, root + 4, root + 7):
            chords += [(at, bytes([0x91, key, 70])), (at + 2 * DIVISION - 40, bytes([0x81, key, 0]))]
            onsets.append((at, 1, key))
    conductor = track([(t, b"\xff\x51\x03" + m.to_bytes(3, "big")) for t, m in tempos])
    header = b"MThd" + struct.pack(">IHHH", 6, 1, 3, DIVISION)
    with open(args.out, "wb") as f:
        f.write(header + conductor + track(melody) + track(chords))
    # The player's order: by tick, then by track.
    for tick, channel, key in sorted(onsets, key=lambda o: (o[0], o[1])):
        print(f"{seconds(tick):.6f} {channel} {key}")


if __name__ == "__main__":
    main()
