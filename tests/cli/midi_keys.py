#!/usr/bin/python3
"""A MIDI keyboard played by a script, as a JACK client, for the record tests and benchmark.

It opens an output port CLIENT:keys, prints "ready", and then obeys one command a line on standard
input:
  play        plays its notes and prints, for every message sent, "SECONDS STATUS KEY VELOCITY"
              with the moment it was sent on the monotonic clock, then "done"
  unplug      closes its port, as a keyboard pulled out; prints "unplugged"
  plug        opens it again, as a new client; prints "ready"
End of input ends it.

--notes N plays N notes (chords of two and three among single notes, gaps of 40 to 400 ms,
a fixed seed so every run plays the same); without it, a short phrase with one chord.
"""
import argparse
import random
import sys
import time

import rtmidi


def phrase(count):
    """(delay before, [keys], velocity, held seconds) groups; every group is let go before the next
    one sounds, so that each note is one note-on and its note-off."""
    if count is None:
        return [(0.0, [60], 90, 0.15), (0.25, [62], 70, 0.15), (0.25, [64, 67, 72], 100, 0.3),
                (0.45, [65], 50, 0.1), (0.2, [59], 110, 0.2)]
    rng = random.Random(20261208)
    groups, notes = [], 0
    while notes < count:
        size = min(rng.choice([1, 1, 1, 2, 3]), count - notes)
        root = rng.randrange(36, 84)
        keys = [root + step for step in [0, 4, 7][:size]]
        groups.append([rng.uniform(0.04, 0.4), keys, rng.randrange(30, 127), 0.0])
        notes += len(keys)
    for this, following in zip(groups, groups[1:] + [[0.3]]):
        this[3] = rng.uniform(0.3, 0.8) * following[0]
    return [tuple(g) for g in groups]


def play(out, groups):
    """Sends each group's note-ons together and its note-offs after the hold. Each send time is
    read around the send itself, so that how late the sender woke does not count against the
    recorder."""
    sent = []

    def send(status, key, velocity):
        before = time.monotonic()
        out.send_message([status, key, velocity])
        sent.append(((before + time.monotonic()) / 2, status, key, velocity))

    at = time.monotonic()
    for delay, keys, velocity, hold in groups:
        at += delay
        time.sleep(max(0.0, at - time.monotonic()))
        for k in keys:
            send(0x90, k, velocity)
        time.sleep(max(0.0, at + hold - time.monotonic()))
        for k in keys:
            send(0x80, k, 0)
    for seconds, status, key, velocity in sent:
        print(f"{seconds:.6f} {status} {key} {velocity}")
    print("done", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--client", default="Test keyboard")
    parser.add_argument("--notes", type=int)
    args = parser.parse_args()
    def plug():
        out = rtmidi.MidiOut(rtmidi.API_UNIX_JACK, name=args.client)
        out.open_virtual_port("keys")
        print("ready", flush=True)
        return out

    out = plug()
    groups = phrase(args.notes)
    for line in sys.stdin:
        command = line.strip()
        if command == "play":
            play(out, groups)
        elif command == "unplug":
            # The client goes with its port, as a device's does when its cable is pulled.
            out.close_port()
            out.delete()
            print("unplugged", flush=True)
        elif command == "plug":
            out = plug()


if __name__ == "__main__":
    main()
