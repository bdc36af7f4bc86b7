#!/usr/bin/python3
"""An instrument played by another program, as a JACK client, for the MIDI output tests and
benchmark: it opens an input port CLIENT:in, prints "ready", and prints every message it receives
as "SECONDS STATUS DATA1 DATA2" until its standard input ends. The seconds are JACK's own clock
at the period that delivered the message, counted from the first: read on JACK's thread before
this script sees the message, so how late Python runs does not count.
"""
import argparse
import sys

import rtmidi


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--client", default="Test piano")
    args = parser.parse_args()
    received = []

    clock = [0.0]

    def arrived(event, _data):
        message, delta = event
        clock[0] += delta
        received.append((clock[0], message))

    port = rtmidi.MidiIn(rtmidi.API_UNIX_JACK, name=args.client)
    port.open_virtual_port("in")
    port.set_callback(arrived)
    print("ready", flush=True)
    sys.stdin.read()
    port.close_port()
    for seconds, message in received:
        data = list(message) + [0, 0]
        print(f"{seconds:.6f} {data[0]} {data[1]} {data[2]}")
    print("done", flush=True)


if __name__ == "__main__":
    main()
