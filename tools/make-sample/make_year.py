#!/usr/bin/env python3
"""Writes a made-up year of the satellite's passes as KISS logs, one file per
month as the program names its logs, for trying the archive, its catch-up and
the chart's long ranges without a year of listening.

Four to five passes a day, six to twelve minutes long, a frame every ten
seconds, built like the sample pass. Over the year the battery's top of
charge follows the seasons (longer eclipses in winter) and slowly ages, the
satellite reboots now and then (uptime back to zero, boot count up), and a
cold week in early spring takes the battery voltage well below its usual
range. Deterministic: the noise comes from fixed seeds.

Usage: make_year.py FOLDER [--end 2026-12-09T18:00] [--days 365] [--call N0CALL]
"""
import argparse
import datetime
import math
import os
import random
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_sample  # noqa: E402  (the frame layout and the KISS records)

PASS_OFFSETS_H = (1.7, 3.3, 12.9, 14.5, 16.1)  # pass times of day, drifting daily
DRIFT_H = 0.41
REBOOT_EVERY_DAYS = 47


def season(day_of_year):
    """1 in midsummer, -1 in midwinter."""
    return math.cos(2.0 * math.pi * (day_of_year - 172) / 365.0)


def passes(end, days):
    """(start time, frames) of every pass in the days before end, oldest first."""
    rng = random.Random(4711)
    first = end - datetime.timedelta(days=days)
    day0 = datetime.datetime(first.year, first.month, first.day)
    out = []
    for d in range(days + 1):
        for k, base in enumerate(PASS_OFFSETS_H):
            if k == 4 and rng.random() < 0.6:
                continue  # the fifth pass is often too low to hear
            hour = (base + DRIFT_H * d) % 24.0
            start = day0 + datetime.timedelta(days=d, hours=hour, seconds=rng.uniform(0, 300))
            if first <= start < end - datetime.timedelta(minutes=15):
                out.append((start, rng.randint(36, 72)))
    out.sort()
    return out


def put(frame, position, fmt, value):
    """Positions count from 1, from the KISS port byte, as in the sample."""
    struct.pack_into("<" + fmt, frame, position - 1, value)


def year_frames(end, days):
    """(time, frame bytes) of every telemetry frame, oldest first."""
    sat = make_sample.Pass()
    boot = 31
    last_boot = end - datetime.timedelta(days=days + 3)
    cold = end - datetime.timedelta(days=days) + datetime.timedelta(days=95)
    for n, (start, count) in enumerate(passes(end, days)):
        if (start - last_boot).days >= REBOOT_EVERY_DAYS:
            last_boot = start - datetime.timedelta(minutes=random.Random(n).uniform(20, 600))
            boot += 1
        sat.rng = random.Random(n)
        doy = start.timetuple().tm_yday
        age = (start - (end - datetime.timedelta(days=days))).days
        top = 8150.0 + 40.0 * season(doy) - 0.35 * age
        chill = 0.0
        if cold <= start < cold + datetime.timedelta(days=7):
            chill = 1.0 - abs((start - cold).total_seconds() / 86400.0 - 3.5) / 3.5
        sat.batt = top - 350.0 * (0.4 - 0.3 * season(doy)) - 900.0 * chill
        for i in range(count):
            when = start + datetime.timedelta(seconds=10 * i)
            frame = bytearray(sat.telemetry(i))
            uptime = int((when - last_boot).total_seconds()) % 65536
            put(frame, 23, "H", boot)
            put(frame, 29, "H", uptime)
            temp = 11.5 + 6.0 * season(doy) - 14.0 * chill + sat.noise(0.3)
            put(frame, 96, "h", round(temp))
            yield when, bytes(frame)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder")
    parser.add_argument("--end", default=None, help="UTC end, e.g. 2026-12-09T18:00 (default: now)")
    parser.add_argument("--days", type=int, default=365)
    parser.add_argument("--call", default="N0CALL")
    args = parser.parse_args()
    end = (datetime.datetime.fromisoformat(args.end) if args.end
           else datetime.datetime.utcnow().replace(microsecond=0))
    os.makedirs(args.folder, exist_ok=True)
    files, total, month, out = [], 0, None, None
    for when, frame in year_frames(end, args.days):
        if (when.year, when.month) != month:
            if out:
                out.close()
            month = (when.year, when.month)
            name = "%s_%s.kss" % (args.call, when.strftime("%d%m%Y_%H%M"))
            files.append(name)
            out = open(os.path.join(args.folder, name), "wb")
        out.write(make_sample.timestamp_record(when) + make_sample.kiss_record(frame))
        total += 1
    if out:
        out.close()
    print("%s: %d frames in %d files, up to %s UTC" % (args.folder, total, len(files), end))
    return 0


if __name__ == "__main__":
    sys.exit(main())
