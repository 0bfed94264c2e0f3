#!/usr/bin/env python3
"""Writes data/sample_pass.kss: a made-up pass of the satellite as the
program's KISS log would hold it, for trying the program, the import and
agw-replay without a radio.

About a hundred telemetry frames ten seconds apart, each behind its timestamp
record, with values that change smoothly over the pass (the satellite leaves
the sunlight two thirds of the way through), and a few frames of ground
stations in between. Some field bytes are 0xC0 and 0xDB, so the file needs
KISS escaping. The output depends on nothing but this script: the noise comes
from a fixed seed.

Usage: make_sample.py [--output FILE]
"""
import argparse
import datetime
import math
import os
import random
import struct
import sys

TELEMETRY_FRAMES = 100
FRAME_LENGTH = 120
SEED = 20240305
START = datetime.datetime(2024, 3, 5, 14, 2, 7, 250000)
# KISS port byte, destination TAVRIK, SSID, source TAVRIK, SSID, UI control, no layer 3.
HEADER = bytes.fromhex("00 A8 82 AC A4 92 96 00 A8 82 AC A4 92 96 00 03 F0")
FEND, FESC, TFEND, TFESC = 0xC0, 0xDB, 0xDC, 0xDD
# The packet counter's low byte runs through 0xC0 and 0xDB (and the plain
# 0xDC, 0xDD) within the pass.
FIRST_PACKET = 0x10B8
FIRST_UPTIME = 40967  # above 32767, so the unsigned reading matters
ECLIPSE_AT = 650.0    # seconds into the pass
SPIN_PERIOD = 240.0   # seconds per turn of the tumbling satellite


def kiss_record(body):
    out = bytearray([FEND])
    for b in body:
        if b == FESC:
            out += bytes((FESC, TFESC))
        elif b == FEND:
            out += bytes((FESC, TFEND))
        else:
            out.append(b)
    out.append(FEND)
    return bytes(out)


def timestamp_record(when):
    text = when.strftime("%Y-%m-%d %H:%M:%S.") + "%03d" % (when.microsecond // 1000) + " UTC"
    return bytes([FEND, 0x09]) + text.encode("ascii") + bytes([FEND])


def address(call, ssid_byte):
    call = call.ljust(6)[:6]
    return bytes(ord(c) << 1 for c in call) + bytes([ssid_byte])


def ui_frame(dest, source, text, digis=()):
    """An ordinary AX.25 UI frame behind KISS port 0; the last address has
    its end bit set."""
    calls = [(dest, 0xE0)] + [(source, 0x60)] + [(d, 0x60) for d in digis]
    body = bytearray([0x00])
    for i, (call, ssid_byte) in enumerate(calls):
        name, _, ssid = call.partition("-")
        byte = ssid_byte | (int(ssid or 0) << 1) | (1 if i == len(calls) - 1 else 0)
        body += address(name, byte)
    body += bytes((0x03, 0xF0))
    body += text if isinstance(text, bytes) else text.encode("ascii")
    return bytes(body)


# (after which telemetry frame, seconds after it, frame)
FOREIGN = [
    (4, 3.417, ui_frame("BEACON", "N0CALL-1", "=4807.38N/01134.50E# test digipeater",
                        digis=("WIDE1-1",))),
    (22, 5.088, ui_frame("CQ", "N0CALL", "hello from a ground station, listening for TAVRIK")),
    (40, 1.731, ui_frame("TAVRIK", "N0CALL-2", "ping")),  # same destination, other source
    (57, 6.902, ui_frame("ID", "NOCALL-7", "NOCALL-7/R WIDE1-1/D")),
    (76, 2.560, ui_frame("APRS", "N0CALL-9", b"binary \xc0\xdb\xdc\xdd data")),
    (95, 8.124, ui_frame("CQ", "N0CALL", "73, pass over")),
]


def smooth_step(x):
    """0 well before 0, 1 well after, a smooth ramp over about +-30 s."""
    return 0.5 * (1.0 + math.tanh(x / 15.0))


class Pass:
    def __init__(self):
        self.rng = random.Random(SEED)
        self.batt = 7920.0
        self.panel_temps = [38.0, 31.0, 26.0, 35.0, 29.0]

    def noise(self, size):
        return self.rng.gauss(0.0, size)

    def telemetry(self, i):
        t = 10.0 * i
        sun = 1.0 - smooth_step(t - ECLIPSE_AT)  # 1 in sunlight, 0 in eclipse
        spin = 2.0 * math.pi * t / SPIN_PERIOD
        # Three body-mounted panels, 120 degrees apart, take turns facing the sun.
        light = [max(0.0, math.cos(spin + k * 2.0 * math.pi / 3.0)) for k in range(3)]
        sp_curr = [round(sun * (40.0 + 290.0 * l) + abs(self.noise(2.0))) for l in light]
        sp_volts = [round(sun * (4650.0 + 450.0 * l) + 180.0 * (1.0 - sun) + self.noise(6.0))
                    for l in light]
        solar = sum(sp_curr)
        tx = 1 if i % 2 == 0 else 0  # the beacon keys up every other frame
        total = round(262.0 + 38.0 * tx + self.noise(3.0))
        # Charging in the sun up to the top of charge, discharging in eclipse.
        self.batt += (solar - total) * 0.055
        self.batt = min(self.batt, 8185.0)
        batt_volts = round(self.batt + self.noise(3.0))
        bus_raw = round(batt_volts / 16.129 + 3.0 + self.noise(0.6))
        for k in range(5):
            target = -12.0 + 70.0 * sun * (0.5 + 0.5 * (light[k % 3] if k < 3 else 0.4))
            self.panel_temps[k] += (target - self.panel_temps[k]) * 0.06
        frac = i / (TELEMETRY_FRAMES - 1)
        pa_temp = 18.5 + 7.5 * frac + self.noise(0.15)
        side_a = 21.0 - 19.0 * (1.0 - sun) + 2.0 * math.sin(spin) + self.noise(0.2)
        side_b = 19.0 - 18.0 * (1.0 - sun) - 2.0 * math.sin(spin) + self.noise(0.2)
        bc = [round(17.0 - 15.0 * (1.0 - sun) + k * -2.0 + self.noise(0.4)) for k in range(3)]
        batt_temp = round(11.5 - 3.0 * (1.0 - sun) + self.noise(0.3))
        doppler = round(32768 - 3600.0 * math.tanh((t - 480.0) / 220.0) + self.noise(4.0))
        commands = (5 if i < 40 else 6 if i < 70 else 7, 5 if i < 40 else 6)

        info = bytearray(FRAME_LENGTH - len(HEADER))

        def put(position, fmt, value):
            struct.pack_into("<" + fmt, info, position - 18, value)

        put(18, "B", 0x54)
        put(19, "B", 1)
        put(20, "B", 1)
        put(22, "B", 2)                                # OPS mode: norm
        put(23, "H", 37)                               # boot count
        put(25, "H", FIRST_PACKET + i)                 # packet counter
        put(27, "B", commands[0])                      # commands received
        put(28, "B", commands[1])                      # of those valid
        put(29, "H", FIRST_UPTIME + 10 * i)            # uptime, s
        put(36, "H", doppler)
        put(38, "H", round(128 + 9.0 * math.sin(math.pi * frac) + self.noise(1.5)))  # RSSI
        put(40, "H", round(58 + 4 * tx + self.noise(0.8)))       # reflected power raw
        put(42, "H", round(1200 + 700 * tx + self.noise(4.0)))   # forward power raw
        put(44, "H", round(420 + 730 * tx + self.noise(5.0)))    # TX current raw
        put(46, "H", round(160 + self.noise(1.2)))               # RX current raw
        put(48, "H", round((190.0 - pa_temp) / 0.2959))
        put(50, "H", bus_raw)
        put(52, "H", 0x000F)                           # all antennas deployed
        put(54, "H", round((190.65 - side_a) / 0.2922))
        put(56, "H", 0x000F)
        put(58, "H", round((190.65 - side_b) / 0.2922))
        for k in range(3):
            put(60 + 2 * k, "H", max(0, sp_volts[k]))
            put(68 + 2 * k, "H", sp_curr[k])
        put(66, "H", batt_volts)
        put(74, "H", solar)
        put(76, "H", total)
        for position, base in ((78, 62), (80, 41), (82, 18), (84, 95), (86, 12), (88, 4)):
            put(position, "H", max(0, round(base + self.noise(1.0))))
        for k in range(3):
            put(90 + 2 * k, "h", bc[k])
        put(96, "h", batt_temp)
        put(98, "B", 0x1F if sun > 0.5 else 0x0F)      # channel status bits
        put(99, "B", 12)                               # EPS boot count
        put(100, "B", 4 if batt_volts >= 8050 else 3)  # EPS mode: full or norm
        put(101, "B", 2 if 30 <= i < 38 else (1 if sun > 0.5 else 0))  # EPS tracking
        for k in range(5):
            put(102 + 2 * k, "h", round((self.panel_temps[k] + self.noise(0.1)) * 64.0))
        info[112 - 18:] = b"TAVRIK 73"
        frame = HEADER + bytes(info)
        assert len(frame) == FRAME_LENGTH
        return frame


def frames():
    """Every frame of the pass in the order heard: (time, bytes)."""
    sat = Pass()
    out = []
    for i in range(TELEMETRY_FRAMES):
        when = START + datetime.timedelta(seconds=10 * i)
        out.append((when, sat.telemetry(i)))
        for after, delay, frame in FOREIGN:
            if after == i:
                out.append((when + datetime.timedelta(milliseconds=round(delay * 1000)), frame))
    return out


def generate():
    data = bytearray()
    telemetry = [f for _, f in frames() if f[:17] == HEADER]
    # The sample is there to exercise the escaping; make sure it does.
    assert any(FEND in f for f in telemetry) and any(FESC in f for f in telemetry)
    for when, frame in frames():
        data += timestamp_record(when)
        data += kiss_record(frame)
    return bytes(data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.normpath(os.path.join(here, "..", "..", "data", "sample_pass.kss"))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", default=default, help="where to write (default: %(default)s)")
    args = parser.parse_args()
    data = generate()
    with open(args.output, "wb") as f:
        f.write(data)
    print("%s: %d bytes, %d frames" % (args.output, len(data), len(frames())))
    return 0


if __name__ == "__main__":
    sys.exit(main())
