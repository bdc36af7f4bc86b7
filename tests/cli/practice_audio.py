#!/usr/bin/env python3
"""Songs for the practice renders, and what the tests measure of the audio rendered from them.

  practice_audio.py notes OUT.mid    two single notes of an organ: A4 at 0.5 s, E5 at 4.5 s, 1 s each
  practice_audio.py hands OUT.mid    a piano piece of two hands on keys far apart: the first hand
                                     (track 1) on C6-B6, the second (track 2) on C2-B2, on one channel
  practice_audio.py beats OUT.mid    one soft low note held for 4 s in 3/4 at 120 beats a minute: a song
                                     whose metronome clicks stand clear of its sound
  practice_audio.py onsets WAV       the times in seconds at which sound starts after a silence
  practice_audio.py clicks WAV       each onset with A (accented: the higher of the clicks' two tones)
                                     or b, as 0.5000:b
  practice_audio.py pitch WAV AT DUR the fundamental in Hz of the sound from AT for DUR seconds

Pure Python, so that the tests need nothing beyond the interpreter.
"""
import array
import struct
import sys
import wave

DIVISION = 480  # ticks per quarter note; at the default 120 per minute, 960 ticks a second


def delta(value):
    groups = [value & 0x7F]
    value >>= 7
    while value:
        groups.append((value & 0x7F) | 0x80)
        value >>= 7
    return bytes(reversed(groups))


def track(events):
    """events: (tick, bytes) in any order; written with deltas and an end of track."""
    data = b""
    now = 0
    for tick, message in sorted(events, key=lambda e: (e[0], e[1][0] & 0xF0 != 0x80)):
        data += delta(tick - now) + message
        now = tick
    data += delta(0) + b"\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(data)) + data


def song(tracks):
    return b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), DIVISION) + b"".join(tracks)


def note(channel, key, start_s, length_s, velocity=100):
    on = round(start_s * 960)
    return [(on, bytes([0x90 | channel, key, velocity])),
            (on + round(length_s * 960), bytes([0x80 | channel, key, 0]))]


def notes_song():
    events = [(0, bytes([0xC0, 80]))]  # a square wave: a steady tone to measure the pitch of
    events += note(0, 69, 0.5, 1.0) + note(0, 76, 4.5, 1.0)
    return song([track(events)])


def hands_song():
    scale = [0, 2, 4, 5, 7, 9, 11]
    right, left = [(0, bytes([0xC0, 79]))], []  # an ocarina: nearly a sine, so the hands' bands stay apart
    for i in range(16):
        right += note(0, 84 + scale[i % 7], 0.25 * i, 0.25)
        left += note(0, 36 + scale[(i * 3) % 7], 0.25 * i, 0.25)
    return song([track(right), track(left)])


def beats_song():
    meter = (0, b"\xff\x58\x04\x03\x02\x18\x08")  # 3/4
    events = [meter, (0, bytes([0xC0, 79]))] + note(0, 36, 0.0, 4.0, velocity=8)
    return song([track(events)])


def clicks(path):
    """Each onset, and whether its tone is the accent's: the accented click is pitched a fifth
    above the others, which its zero crossings in the first 10 ms tell whatever the limiter did to
    its level."""
    mono, rate = samples(path)
    found = []
    for t in onsets(path):
        x = mono[int(t * rate):int(t * rate) + rate // 100]
        crossings = sum(1 for a, b in zip(x, x[1:]) if (a < 0) != (b < 0))
        found.append((t, crossings))
    if not found:
        return []
    low, high = min(c for _, c in found), max(c for _, c in found)
    return [(t, high > low * 1.25 and c > (low + high) / 2) for t, c in found]


def samples(path):
    """The WAV's frames as mono floats, and its rate."""
    with wave.open(path, "rb") as w:
        rate, channels, frames = w.getframerate(), w.getnchannels(), w.getnframes()
        data = array.array("h")
        data.frombytes(w.readframes(frames))
    mono = [(data[i] + data[i + 1]) / 65536.0 for i in range(0, len(data) - 1, channels)]
    return mono, rate


def onsets(path):
    """Starts of sound: 1 ms windows rising past a tenth of the peak window after 50 ms below it."""
    mono, rate = samples(path)
    step = rate // 1000
    levels = [max(abs(x) for x in mono[i:i + step]) for i in range(0, len(mono) - step, step)]
    threshold = max(levels) * 0.1
    found, quiet = [], 50
    for i, level in enumerate(levels):
        if level >= threshold:
            if quiet >= 50:
                # The window's first sample past the threshold, for a time finer than the window.
                first = next(j for j in range(i * step, i * step + step) if abs(mono[j]) >= threshold)
                found.append(first / rate)
            quiet = 0
        else:
            quiet += 1
    return found


def pitch(path, at, duration):
    """Autocorrelation over lags for 80 Hz to 2 kHz, refined between lags by a parabola."""
    mono, rate = samples(path)
    x = mono[int(at * rate):int((at + duration) * rate)]
    n = len(x) // 2
    lo, hi = rate // 2000, rate // 80

    def corr(lag):
        return sum(x[i] * x[i + lag] for i in range(n))

    values = {lag: corr(lag) for lag in range(lo, hi + 2)}
    # The first peak nearly as high as the best one: the period, not a multiple of it.
    best = max(values[lag] for lag in range(lo + 1, hi + 1))
    lag = next(lag for lag in range(lo + 1, hi + 1)
               if values[lag] >= 0.9 * best and values[lag] >= values[lag - 1] and values[lag] >= values[lag + 1])
    a, b, c = values[lag - 1], values[lag], values[lag + 1]
    shift = 0.5 * (a - c) / (a - 2 * b + c) if a - 2 * b + c != 0 else 0.0
    return rate / (lag + shift)


def main(argv):
    command = argv[1]
    if command in ("notes", "hands", "beats"):
        with open(argv[2], "wb") as f:
            f.write({"notes": notes_song, "hands": hands_song, "beats": beats_song}[command]())
    elif command == "clicks":
        print(" ".join("%.4f:%s" % (t, "A" if accent else "b") for t, accent in clicks(argv[2])))
    elif command == "onsets":
        print(" ".join("%.4f" % t for t in onsets(argv[2])))
    elif command == "pitch":
        print("%.3f" % pitch(argv[2], float(argv[3]), float(argv[4])))
    else:
        sys.exit("unknown command " + command)


if __name__ == "__main__":
    main(sys.argv)
