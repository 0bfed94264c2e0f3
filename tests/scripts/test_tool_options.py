#!/usr/bin/env python3
"""The companion programs answer --version, -h, --help, a wrong option and a
standard output that cannot be written alike: help and version on standard
output with status 0, a usage error on standard error with status 2, a failed
write reported with status 1."""
import os
import subprocess
import unittest

BIN = os.environ.get("TAVRIK_BIN_DIR", "")
SOURCE_DIR = os.environ.get("TAVRIK_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", "..")
SAMPLE = os.path.join(SOURCE_DIR, "data", "sample_pass.kss")
TLE = (b"1 00005U 58002B   00179.78495062  .00000023  00000-0  28098-4 0  4753\n"
       b"2 00005  34.2682 348.7242 1859667 331.7664  19.3264 10.82419157413667\n")
TOOLS = ("tavrik-decode", "tavrik-archive", "tavrik-sky", "agw-replay")


def run(args, stdout=subprocess.PIPE):
    return subprocess.run(args, input=TLE, stdout=stdout, stderr=subprocess.PIPE, timeout=60)


class ToolOptions(unittest.TestCase):
    def test_help_version_and_wrong_options(self):
        for tool in TOOLS:
            exe = os.path.join(BIN, tool)
            for args, status, out, err in (
                    (["--version"], 0, tool.encode() + b" (tavrik-decoder) ", b""),
                    (["-h"], 0, b"sage: ", b""),
                    (["--help"], 0, b"sage: ", b""),
                    (["--no-such-option"], 2, b"", tool.encode() + b": ")):
                with self.subTest(tool=tool, args=args):
                    r = run([exe] + args)
                    self.assertEqual(r.returncode, status, r.stderr)
                    self.assertIn(out, r.stdout)
                    self.assertTrue(r.stderr.startswith(err), r.stderr)
                    if status == 2:
                        self.assertEqual(r.stdout, b"")
                        self.assertIn(b"sage: ", r.stderr)

    def test_an_output_that_cannot_be_written_is_status_1(self):
        cases = [[t, "--version"] for t in TOOLS] + [[t, "--help"] for t in TOOLS] + [
            ["tavrik-decode", SAMPLE],
            ["tavrik-sky", "at", "--tle", "-", "--lat", "50", "--lon", "10", "--time", "2000-06-28"]]
        with open("/dev/full", "wb") as full:
            for args in cases:
                with self.subTest(args=args):
                    r = run([os.path.join(BIN, args[0])] + args[1:], stdout=full)
                    self.assertEqual(r.returncode, 1, r.stderr)
                    self.assertIn(b"standard output: No space left on device", r.stderr)


if __name__ == "__main__":
    unittest.main()
