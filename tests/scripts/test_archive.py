#!/usr/bin/env python3
"""tavrik-archive as a user runs it: the sample pass imported (twice), exported
as tavrik-decode decodes it, passes and series, and the ways it says no."""
import csv
import io
import os
import shutil
import sqlite3
import subprocess
import tempfile
import time
import unittest

SOURCE_DIR = os.environ.get("TAVRIK_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", "..")
BIN = os.environ.get("TAVRIK_BIN_DIR", "")
ARCHIVE_TOOL = os.path.join(BIN, "tavrik-archive")
DECODE = os.path.join(BIN, "tavrik-decode")
SAMPLE = os.path.join(SOURCE_DIR, "data", "sample_pass.kss")


def run(program, *args):
    return subprocess.run([program, *args], capture_output=True, timeout=120, cwd=run.cwd)


class Archive(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        run.cwd = self.dir
        shutil.copy(SAMPLE, os.path.join(self.dir, "sample.kss"))
        self.db = os.path.join(self.dir, "tavrik-archive.sqlite")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def imported(self):
        r = run(ARCHIVE_TOOL, "import", self.db, "sample.kss")
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout.decode()

    def test_import_twice_adds_once_and_exports_what_tavrik_decode_gives(self):
        self.assertEqual(self.imported(), "sample.kss: 100 telemetry frames, 100 added, 0 already there\n")
        self.assertEqual(self.imported(), "sample.kss: 100 telemetry frames, 0 added, 100 already there\n")
        for fmt in ("csv", "json"):
            want = run(DECODE, "--format", fmt, "sample.kss")
            got = run(ARCHIVE_TOOL, "export", self.db, "--format", fmt)
            self.assertEqual((got.returncode, got.stderr), (0, b""))
            self.assertEqual(got.stdout, want.stdout)
        # A range: the rows of tavrik-decode whose time is in it.
        rows = list(csv.reader(io.StringIO(run(DECODE, "sample.kss").stdout.decode(), newline="")))
        got = run(ARCHIVE_TOOL, "export", self.db, "--from", "2024-03-05T14:05", "--to", "2024-03-05T14:10:07.250Z")
        inside = [r for r in rows[1:] if "2024-03-05 14:05" <= r[0] < "2024-03-05 14:10:07.250"]
        self.assertEqual(list(csv.reader(io.StringIO(got.stdout.decode(), newline=""))), rows[:1] + inside)
        self.assertEqual(len(inside), 30)  # 14:05:07.250 to 14:09:57.250; the end is left out

    def test_influx_lines_passes_and_series_agree_with_the_rows(self):
        self.imported()
        rows = list(csv.DictReader(io.StringIO(run(DECODE, "sample.kss").stdout.decode(), newline="")))
        batt = [int(r["Batt volts [mV]"]) for r in rows]
        lines = run(ARCHIVE_TOOL, "export", self.db, "--format", "influx").stdout.decode().splitlines()
        self.assertEqual(len(lines), 100)
        self.assertTrue(lines[0].startswith("tavrik,source=TAVRIK OPS\\ mode=2,"), lines[0])
        self.assertTrue(lines[0].endswith(" 1709647327250000000"), lines[0])
        self.assertIn(",Batt\\ volts=%d," % batt[0], lines[0])
        passes = list(csv.DictReader(io.StringIO(run(ARCHIVE_TOOL, "passes", self.db).stdout.decode(), newline="")))
        self.assertEqual(len(passes), 1)
        p = passes[0]
        self.assertEqual((p["Start [UTC]"], p["End [UTC]"], p["Frames"]),
                         (rows[0]["Reception time [UTC]"], rows[-1]["Reception time [UTC]"], "100"))
        self.assertEqual((int(p["Batt volts min [mV]"]), int(p["Batt volts max [mV]"])), (min(batt), max(batt)))
        self.assertAlmostEqual(float(p["Batt volts avg [mV]"]), sum(batt) / 100, places=5)
        r = run(ARCHIVE_TOOL, "series", self.db, "batt volts", "--points", "4")
        series = list(csv.DictReader(io.StringIO(r.stdout.decode(), newline="")))
        self.assertEqual([b["Bucket start [UTC]"] for b in series],
                         ["2024-03-05 14:00:00.000", "2024-03-05 14:05:00.000",
                          "2024-03-05 14:10:00.000", "2024-03-05 14:15:00.000"])
        self.assertEqual(sum(int(b["Count"]) for b in series), 100)
        shown = sqlite3.connect(self.db).execute(
            "SELECT count(*), min(batt_volts), max(pa_temp) FROM telemetry").fetchone()
        self.assertEqual(shown[:2], (100, min(batt)))
        self.assertAlmostEqual(shown[2], max(float(r["PA temp [C]"]) for r in rows), places=6)

    def test_what_it_refuses(self):
        self.imported()
        r = run(ARCHIVE_TOOL, "series", self.db, "Battery")
        self.assertEqual(r.returncode, 2)
        self.assertIn(b'unknown field "Battery"', r.stderr)
        self.assertIn(b"\n  Batt volts\n", r.stderr)
        for args in (["export", self.db, "--from", "yesterday"], ["export", self.db, "--format", "xml"],
                     ["passes", self.db, "--format", "influx"], ["frob", self.db], ["import", self.db]):
            self.assertEqual(run(ARCHIVE_TOOL, *args).returncode, 2, args)
        notes = os.path.join(self.dir, "notes.sqlite")
        with open(notes, "w") as f:
            f.write("shopping list\n" * 100)
        for args in (["export", notes], ["import", notes, "sample.kss"]):
            r = run(ARCHIVE_TOOL, *args)
            self.assertEqual(r.returncode, 1)
            self.assertIn(b"is not a tavrik archive", r.stderr)
        with open(notes) as f:
            self.assertEqual(f.read(), "shopping list\n" * 100)
        # A telemetry frame without its timestamp record: counted, skipped, exit 1.
        with open(SAMPLE, "rb") as f:
            data = f.read()
        first = data.index(b"\xc0\x09")
        end = data.index(b"\xc0", first + 1) + 1
        with open(os.path.join(self.dir, "cut.kss"), "wb") as f:
            f.write(data[:first] + data[end:])
        r = run(ARCHIVE_TOOL, "import", self.db, "cut.kss")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"cut.kss: 1 telemetry frame(s) without a reception-time record skipped", r.stderr)

    def test_a_damaged_archive_is_refused_by_import_and_export_and_named_by_check(self):
        self.imported()
        r = run(ARCHIVE_TOOL, "check", self.db)
        self.assertEqual((r.returncode, r.stdout), (0, b"%s: whole (integrity_check ok), 100 frames\n" % self.db.encode()))
        # Bytes flipped in the frame table's root page, as a bad sector would.
        c = sqlite3.connect(self.db)
        c.execute("PRAGMA journal_mode = DELETE")
        c.execute("PRAGMA journal_mode = WAL")
        size = c.execute("PRAGMA page_size").fetchone()[0]
        root = c.execute("SELECT rootpage FROM sqlite_schema WHERE name = 'frame'").fetchone()[0]
        c.close()
        with open(self.db, "r+b") as f:
            f.seek((root - 1) * size)
            page = f.read(64)
            f.seek((root - 1) * size)
            f.write(bytes(b ^ 0x5A for b in page))
        with open(self.db, "rb") as f:
            damaged = f.read()
        for args in (["import", self.db, "sample.kss"], ["export", self.db], ["check", self.db]):
            r = run(ARCHIVE_TOOL, *args)
            self.assertEqual((r.returncode, r.stdout), (1, b""), args)
            self.assertIn(b"is damaged", r.stderr)
            self.assertEqual(r.stderr.count(b"\n"), 1, r.stderr)  # one line
        with open(self.db, "rb") as f:
            self.assertEqual(f.read(), damaged)  # nothing written

    def test_an_import_waits_for_another_programs_lock_then_says_so(self):
        self.imported()
        holder = sqlite3.connect(self.db, isolation_level=None)
        holder.execute("BEGIN IMMEDIATE")
        started = time.monotonic()
        r = run(ARCHIVE_TOOL, "import", self.db, "sample.kss")
        waited = time.monotonic() - started
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"is locked by another program", r.stderr)
        self.assertGreater(waited, 4)
        self.assertEqual(run(ARCHIVE_TOOL, "export", self.db).returncode, 0)  # reads go on
        holder.execute("ROLLBACK")


if __name__ == "__main__":
    unittest.main()
