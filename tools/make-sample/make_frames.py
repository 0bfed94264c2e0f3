#!/usr/bin/env python3
"""Writes a KISS log of N frames with pseudo-random contents, for comparing
decoders byte for byte (the arm64 build against the amd64 one) where the
sample pass is too tame: every field byte takes every value, so a field read
with the wrong signedness, width or byte order shows in the output.

Most frames are the satellite's telemetry behind a timestamp record; the rest
are what a log also holds: frames the decoder refuses (the type bytes wrong,
or too short), ground stations with odd call signs (bytes above 0x7F, control
characters), frames with no timestamp of their own, and bytes that need KISS
escaping. Deterministic: the same N gives the same file.

Usage: make_frames.py N --output FILE
"""
import argparse
import datetime
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_sample  # noqa: E402  (the frame header and the KISS records)

START = datetime.datetime(2026, 1, 1, 0, 0, 0, 0)


def frame(rng, i):
    kind = rng.random()
    info = bytearray(rng.randbytes(make_sample.FRAME_LENGTH - len(make_sample.HEADER)))
    if kind < 0.85:  # telemetry: type bytes at positions 19 and 20 both 1
        info[1] = info[2] = 1
        return make_sample.HEADER + bytes(info)
    if kind < 0.90:  # refused: a type byte other than 1, or cut short
        info[1] = rng.choice((0, 2, 0x81, 0xFF))
        return make_sample.HEADER + bytes(info[: rng.randint(0, len(info))])
    # another station: any address bytes, any length of text
    header = bytes([0]) + bytes(rng.randbytes(14)) + bytes([0x03, 0xF0])
    return header + bytes(rng.randbytes(rng.randint(0, 200)))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("count", type=int)
    ap.add_argument("--output", required=True)
    args = ap.parse_args()
    rng = random.Random(29)
    with open(args.output, "wb") as out:
        for i in range(args.count):
            when = START + datetime.timedelta(milliseconds=1250 * i)
            if rng.random() < 0.97:
                out.write(make_sample.timestamp_record(when))
            out.write(make_sample.kiss_record(frame(rng, i)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
