#!/usr/bin/python3
"""An instrument played by another program, as a JACK client, for the MIDI output tests and
benchmark: it opens an input port CLIENT:in, prints "ready", and prints every message it receives
as "SECONDS STATUS DATA1 DATA2" with the moment it arrived on the monotonic clock, until its
standard input ends.
"""
import argparse
import sys
import time

import rtmidi


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--client", default="Test piano")
    args = parser.parse_args()
    received = []

    def arrived(event, _data):
        message, _delta = event
        received.append((time.monotonic(), message))

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
