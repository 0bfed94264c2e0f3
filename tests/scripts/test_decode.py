#!/usr/bin/env python3
"""tavrik-decode as a user runs it: the sample pass as CSV, JSON Lines and hex
text, damaged input reported with file and byte offset, the exit status."""
import csv
import datetime
import io
import json
import os
import subprocess
import tempfile
import unittest

SOURCE_DIR = os.environ.get("TAVRIK_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", "..")
DECODE = os.path.join(os.environ.get("TAVRIK_BIN_DIR", ""), "tavrik-decode")
SAMPLE = os.path.join(SOURCE_DIR, "data", "sample_pass.kss")
START = datetime.datetime(2024, 3, 5, 14, 2, 7, 250000)  # as tools/make-sample writes it


def run(*args, stdin=None):
    return subprocess.run([DECODE, *args], input=stdin, capture_output=True, timeout=60)


def value(text):
    """A CSV field as the JSON value it stands for: numbers as numbers."""
    try:
        return json.loads(text)
    except ValueError:
        return text


class Decode(unittest.TestCase):
    def test_sample_pass_as_csv(self):
        r = run(SAMPLE)
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        rows = list(csv.DictReader(io.StringIO(r.stdout.decode(), newline="")))
        self.assertEqual(len(rows), 100)  # the telemetry frames, not the 6 of ground stations
        for i, row in enumerate(rows):
            when = START + datetime.timedelta(seconds=10 * i)
            self.assertEqual(row["Reception time [UTC]"], when.strftime("%Y-%m-%d %H:%M:%S.250"))
            self.assertEqual((row["File"], row["Source"]), (SAMPLE, "TAVRIK"))
            self.assertEqual(int(row["Uptime [s]"]), 40967 + 10 * i)
            self.assertEqual(int(row["Packet cnt"]), 0x10B8 + i)
            self.assertEqual((row["OPS mode"], row["OPS mode name"]), ("2", "norm"))
            self.assertIn(row["EPS mode name"], ("norm", "full"))
            # the generator puts the bus about 3 steps of 16.129 mV above the battery
            self.assertAlmostEqual(float(row["Bus voltage [V]"]),
                                   int(row["Batt volts [mV]"]) / 1000 + 0.048, delta=0.06)

    def test_json_and_hex_carry_the_same_frames(self):
        rows = list(csv.DictReader(io.StringIO(run(SAMPLE).stdout.decode(), newline="")))
        objects = [json.loads(line) for line in run("--format", "json", SAMPLE).stdout.splitlines()]
        self.assertEqual(len(objects), len(rows))
        for row, obj in zip(rows, objects):
            self.assertEqual(list(obj), list(row))
            self.assertEqual(obj, {key: value(text) for key, text in row.items()})
        every = [json.loads(line) for line in run("--all", "--format", "json", SAMPLE).stdout.splitlines()]
        hexes = run("--format", "hex", SAMPLE).stdout.decode().split("\r\n")[:-1]
        self.assertEqual(len(every), 106)
        self.assertEqual([o["Frame"] + " " for o in every], hexes)
        foreign = [o for o in every if o["Source"] != "TAVRIK"]
        self.assertEqual(len(foreign), 6)
        self.assertTrue(all(o["Uptime [s]"] is None for o in foreign))

    def test_damaged_input_is_reported_and_the_rest_read(self):
        with open(SAMPLE, "rb") as f:
            sample = f.read()
        with tempfile.TemporaryDirectory() as tmp:
            damaged = os.path.join(tmp, "damaged.kss")
            with open(damaged, "wb") as f:
                f.write(sample + b"\xc0" + b"\x00" * 600 + b"\xc0" + sample + b"\xc0\x00\x01\x02")
            missing = os.path.join(tmp, "missing\n\x1b.kss")  # a name that would forge a line
            r = run(damaged, missing, "-", stdin=sample)
            self.assertEqual(r.returncode, 1)
            self.assertEqual(r.stderr.decode().splitlines(), [
                "tavrik-decode: %s: byte %d: frame of 600 bytes skipped (longer than 511 bytes)"
                % (damaged, len(sample)),
                "tavrik-decode: %s: byte %d: the file ends inside a frame, which was dropped"
                % (damaged, 2 * len(sample) + 602),
                "tavrik-decode: %s: byte 0: cannot be read: No such file or directory"
                % missing.replace("\n", "\\n").replace("\x1b", "\\x1b"),
            ])
            files = [row["File"] for row in csv.DictReader(io.StringIO(r.stdout.decode(), newline=""))]
            self.assertEqual(files, [damaged] * 200 + ["-"] * 100)

    def test_usage(self):
        for args in ([], ["--format", "xml", SAMPLE], ["--bogus", SAMPLE], ["--format"]):
            r = run(*args)
            self.assertEqual(r.returncode, 2, args)
            self.assertIn(b"usage: tavrik-decode", r.stderr)


if __name__ == "__main__":
    unittest.main()
