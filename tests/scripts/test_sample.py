#!/usr/bin/env python3
"""The bundled sample recording: it is what its generator makes, and it reads
as a pass of the satellite would: timestamped records, smooth values, frames
of other stations, escaped bytes."""
import datetime
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.environ.get("TAVRIK_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", "..")
SAMPLE = os.path.join(SOURCE_DIR, "data", "sample_pass.kss")
GENERATOR = os.path.join(SOURCE_DIR, "tools", "make-sample", "make_sample.py")
HEADER = bytes.fromhex("00 A8 82 AC A4 92 96 00 A8 82 AC A4 92 96 00 03 F0")
STAMP = re.compile(rb"^\x09(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) UTC$")


def read_records(data):
    """Splits at every FEND and undoes the escaping; returns the bodies and
    whether any escape was seen."""
    assert data[:1] == b"\xc0" and data[-1:] == b"\xc0", "the file must start and end with FEND"
    records, escapes = [], set()
    for raw in data.split(b"\xc0"):
        if not raw:
            continue
        body, i = bytearray(), 0
        while i < len(raw):
            if raw[i] == 0xDB:
                nxt = raw[i + 1]
                assert nxt in (0xDC, 0xDD), "FESC followed by %02X" % nxt
                body.append(0xC0 if nxt == 0xDC else 0xDB)
                escapes.add(nxt)
                i += 2
            else:
                body.append(raw[i])
                i += 1
        records.append(bytes(body))
    return records, escapes


def u16(frame, position):
    return struct.unpack_from("<H", frame, position - 1)[0]


def s16(frame, position):
    return struct.unpack_from("<h", frame, position - 1)[0]


class Sample(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(SAMPLE, "rb") as f:
            cls.data = f.read()
        cls.records, cls.escapes = read_records(cls.data)
        cls.heard = []  # (time, frame)
        for stamp, frame in zip(cls.records[0::2], cls.records[1::2]):
            m = STAMP.match(stamp)
            assert m, "not a timestamp record: %r" % stamp[:40]
            when = datetime.datetime.strptime(m.group(1).decode(), "%Y-%m-%d %H:%M:%S.%f")
            cls.heard.append((when, frame))
        cls.telemetry = [(w, f) for w, f in cls.heard if f[:17] == HEADER]
        cls.foreign = [(w, f) for w, f in cls.heard if f[:17] != HEADER]

    def test_is_what_the_generator_makes(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "fresh.kss")
            result = subprocess.run([sys.executable, GENERATOR, "--output", out],
                                    capture_output=True, text=True, timeout=120)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(out, "rb") as f:
                fresh = f.read()
        self.assertEqual(fresh, self.data, "data/sample_pass.kss is stale: run the generator")

    def test_record_structure(self):
        self.assertEqual(len(self.records) % 2, 0)
        self.assertEqual(len(self.heard) * 2, len(self.records), "each frame follows one timestamp")
        for stamp in self.records[0::2]:
            self.assertEqual(len(stamp), 28, "0x09 and 27 characters")
        for _, frame in self.heard:
            self.assertNotEqual(frame[0], 0x09, "a frame record where a timestamp belongs")
        times = [w for w, _ in self.heard]
        self.assertEqual(times, sorted(times), "records out of time order")
        # Both escapes occur, inside telemetry frames too.
        self.assertEqual(self.escapes, {0xDC, 0xDD})
        self.assertTrue(any(0xC0 in f for _, f in self.telemetry))
        self.assertTrue(any(0xDB in f for _, f in self.telemetry))

    def test_telemetry_frames(self):
        self.assertTrue(90 <= len(self.telemetry) <= 110, len(self.telemetry))
        for n, (when, f) in enumerate(self.telemetry):
            with self.subTest(frame=n):
                self.assertGreaterEqual(len(f), 111)
                self.assertEqual((f[18], f[19]), (1, 1), "positions 19 and 20")
                self.assertEqual(f[21], 2, "OPS mode norm")
                self.assertIn(f[99], (3, 4), "EPS mode")
                self.assertIn(f[100], (0, 1, 2), "EPS track")
                self.assertTrue(7400 <= u16(f, 66) <= 8200, "battery %d mV" % u16(f, 66))
                self.assertTrue(470 <= u16(f, 50) <= 530, "bus raw %d" % u16(f, 50))
                self.assertEqual(u16(f, 74), sum(u16(f, p) for p in (68, 70, 72)),
                                 "solar current is the sum of the panels")
                temps = [-0.2959 * u16(f, 48) + 190.0, -0.2922 * u16(f, 54) + 190.65,
                         -0.2922 * u16(f, 58) + 190.65]
                temps += [s16(f, p) for p in (90, 92, 94, 96)]
                temps += [s16(f, p) / 64.0 for p in range(102, 112, 2)]
                for t in temps:
                    self.assertTrue(-40.0 <= t <= 85.0, "temperature %.2f" % t)
        # Ten seconds apart, uptime up by ten, packet counter up by one, values
        # changing smoothly from frame to frame.
        for (w0, a), (w1, b) in zip(self.telemetry, self.telemetry[1:]):
            self.assertEqual(w1 - w0, datetime.timedelta(seconds=10))
            self.assertEqual(u16(b, 29), u16(a, 29) + 10)
            self.assertEqual(u16(b, 25), u16(a, 25) + 1)
            self.assertLess(abs(u16(b, 66) - u16(a, 66)), 60, "battery jump")
            self.assertLess(abs(s16(b, 102) - s16(a, 102)) / 64.0, 5.0, "panel temperature jump")
        # The pass runs from sunlight into eclipse.
        solar = [u16(f, 74) for _, f in self.telemetry]
        self.assertGreater(max(solar), 200)
        self.assertLess(min(solar), 20)
        self.assertGreater(solar[0], solar[-1])

    def test_frames_of_other_stations(self):
        self.assertGreaterEqual(len(self.foreign), 3)
        for n, (_, f) in enumerate(self.foreign):
            with self.subTest(frame=n):
                self.assertEqual(f[0], 0x00, "KISS port byte")
                # Address fields of 7 bytes until the one with the end bit.
                end = next(i for i in range(7, len(f), 7) if f[i] & 1)
                self.assertGreaterEqual(end, 14, "destination and source at least")
                self.assertEqual(f[end + 1:end + 3], b"\x03\xf0", "UI frame, no layer 3")
                source = "".join(chr(b >> 1) for b in f[8:14]).strip()
                self.assertNotEqual(source, "TAVRIK")
        # Heard between the satellite's frames, not only at the ends.
        first, last = self.telemetry[0][0], self.telemetry[-1][0]
        self.assertTrue(any(first < w < last for w, _ in self.foreign))


if __name__ == "__main__":
    unittest.main(verbosity=2)
