#!/usr/bin/env python3
"""Signals and bad limits files cannot stall the real program: a burst of
SIGHUPs while every reading fills the event log, a limits file of 10 MB and
one of 50 000 bad lines. After each the web page still answers and SIGTERM
ends the program cleanly within 5 s."""
import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

BIN = os.environ["TAVRIK_BIN_DIR"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Station:
    def __init__(self, limits_text, extra=""):
        self.dir = tempfile.mkdtemp(prefix="tavrik-signals-")
        self.web = free_port()
        with open(os.path.join(self.dir, "limits.conf"), "w") as f:
            f.write(limits_text)
        with open(os.path.join(self.dir, "online_conf.ini"), "w", newline="") as f:
            f.write("PORT=127.0.0.1:%d\r\nMYCALL=N0CALL\r\nWEB=127.0.0.1:%d\r\nLIMITS=limits.conf\r\n%s"
                    % (free_port(), self.web, extra))
        self.log = open(os.path.join(self.dir, "stderr.txt"), "w+")
        self.proc = subprocess.Popen([os.path.join(BIN, "tavrik-decoder"), "-platform", "offscreen",
                                      "--station", self.dir], stderr=self.log)
        assert self.answers(60), "never served:\n" + self.stderr()

    def stderr(self):
        self.log.flush()
        with open(self.log.name, encoding="utf-8") as f:
            return f.read()

    def answers(self, limit=5):
        end = time.time() + limit
        while time.time() < end:
            try:
                c = http.client.HTTPConnection("127.0.0.1", self.web, timeout=limit)
                try:
                    c.request("GET", "/api/station")
                    return c.getresponse().status == 200
                finally:
                    c.close()
            except (OSError, http.client.HTTPException):
                time.sleep(0.2)
        return False

    def limits_lines(self):
        return [l.split(": ", 1)[1] for l in self.stderr().splitlines() if ": limits: " in l]

    def terminate(self):
        """SIGTERM; the exit status, or None when it did not end within 5 s."""
        self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class SignalsAndLimits(unittest.TestCase):
    def test_sighup_burst_with_a_full_event_log(self):
        # Each reading writes 20 bad lines and a count into a log kept at 200.
        s = Station("Batt volts 6800 7000 8300 8450\n" + "no such caption 1 2 3 4\n" * 2000,
                    "EVENT_LOG_LINES=200\r\n")
        try:
            for _ in range(5000):
                os.kill(s.proc.pid, signal.SIGHUP)
                time.sleep(0.0002)
            self.assertTrue(s.answers(), "no answer after the burst")
            self.assertEqual(s.terminate(), 0, "SIGTERM after the burst")
            readings = [l for l in s.limits_lines() if "in force" in l]
            self.assertGreater(len(readings), 1, "SIGHUP read the file again")
            self.assertLess(len(readings), 5000 // 2, "a burst makes far fewer readings")
        finally:
            s.close()

    def test_bad_limits_files(self):
        cases = [  # file, the lines it makes
            ("x\n" * 5_000_000, ["cannot be read (larger than 1 MiB, not a limits file)"]),
            ("Batt volts 6800 7000 8300 8450\n" + "x\n" * 50_000,
             ["line %d: unknown caption \"x\"" % n for n in range(2, 22)]
             + ["and 49 980 more bad lines", "1 field with limits in force"]),
        ]
        for text, expected in cases:
            with self.subTest(size=len(text)):
                s = Station("")
                try:
                    # Changed while running: read on a worker, the page answers meanwhile.
                    with open(os.path.join(s.dir, "limits.conf"), "w") as f:
                        f.write(text)
                    end = time.time() + 30
                    while time.time() < end and expected[-1] not in "".join(s.limits_lines()):
                        self.assertTrue(s.answers(), "no answer while the file is read")
                        time.sleep(0.1)
                    got = s.limits_lines()[1:]  # after the start's reading of the empty file
                    self.assertEqual(len(got), len(expected), got[:25])
                    for line, words in zip(got, expected):
                        self.assertIn(words, line)
                    self.assertEqual(s.terminate(), 0)
                finally:
                    s.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
