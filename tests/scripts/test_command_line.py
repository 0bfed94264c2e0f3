#!/usr/bin/env python3
"""The programs in a terminal without a display; two stations from two folders."""
import glob
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

SOURCE_DIR = os.environ.get("TAVRIK_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", "..")
BIN = os.environ.get("TAVRIK_BIN_DIR", "")
SAMPLE = os.path.join(SOURCE_DIR, "data", "sample_pass.kss")
DECODER = os.path.join(BIN, "tavrik-decoder")
NO_DISPLAY = ("no display found: to run this station without a screen, start it with --headless "
              "(or with -platform offscreen for the window drawn off screen; see man "
              "tavrik-decoder, A station without a screen)\n")
TELEMETRY = bytes.fromhex("00 A8 82 AC A4 92 96 00 A8 82 AC A4 92 96 00 03 F0")
# A terminal of a machine without a screen: no display, no platform chosen.
TERMINAL = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}


def run(args, env=TERMINAL, **kw):
    return subprocess.run(args, env=env, capture_output=True, text=True, timeout=60, **kw)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def kiss_frames(data):  # the frame records, unescaped
    return [r.replace(b"\xdb\xdc", b"\xc0").replace(b"\xdb\xdd", b"\xdb")
            for r in data.split(b"\xc0") if r and r[0] != 0x09]


class FirstContact(unittest.TestCase):
    def test_help_and_version_answer_without_a_display(self):
        with open(os.path.join(SOURCE_DIR, "CMakeLists.txt")) as f:
            version = re.search(r"project\(\w+ VERSION ([\d.]+)", f.read()).group(1)
        for program in ("tavrik-decoder", "agw-replay", "tavrik-decode", "nconvert"):
            with self.subTest(program=program):
                r = run([os.path.join(BIN, program), "--version"])
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertRegex(r.stdout, r"^%s .*%s\n$" % (program, re.escape(version)))
                r = run([os.path.join(BIN, program), "--help"])
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertRegex(r.stdout, r"(?is)usage: \S*%s.*--version" % program)

    def test_the_program_names_its_station_folder_and_refuses_what_it_does_not_know(self):
        with tempfile.TemporaryDirectory() as tmp:
            r = run([DECODER, "--help", "--station", "vhf"], cwd=tmp)
            self.assertIn("Station folder in use: %s/vhf\n" % tmp, r.stdout)
            self.assertFalse(os.path.exists(os.path.join(tmp, "vhf")), "--help must create nothing")
        self.assertIn("Station folder in use: %s\n" % os.path.realpath(BIN), run([DECODER, "-h"]).stdout)
        # Qt's own options pass through; an unknown one is a usage error.
        self.assertEqual(run([DECODER, "-platform", "offscreen", "-style=fusion", "--version"]).returncode, 0)
        for bad in (["--bogus"], ["--station"], ["stray"]):
            r = run([DECODER, *bad])
            self.assertEqual((r.returncode, r.stdout), (2, ""), bad)
            self.assertIn("Usage: tavrik-decoder", r.stderr)

    def test_no_display_or_an_unusable_station_folder_is_one_line_and_exit_status_1(self):
        # No display named, and one named where no X server listens (Qt would abort there).
        for env in (TERMINAL, dict(TERMINAL, DISPLAY=":87")):
            r = run([DECODER], env=env)
            self.assertEqual((r.returncode, r.stdout, r.stderr), (1, "", NO_DISPLAY))
        with tempfile.NamedTemporaryFile() as afile:
            for folder, reason in ((afile.name, "is a file, not a folder"),
                                   (afile.name + "/sub", "cannot be created: Not a directory")):
                r = run([DECODER, "-platform", "offscreen", "--station", folder])
                self.assertEqual(r.returncode, 1)
                self.assertIn("tavrik-decoder: station folder %s %s\n" % (folder, reason), r.stderr)

    def test_completion_offers_the_options(self):
        script = os.path.join(SOURCE_DIR, "packaging", "bash-completion", "tavrik-decoder")
        for line, expected in (("tavrik-decoder --st", "--station"), ("tavrik-decode --format j", "json"),
                               ("agw-replay --ver", "--version"), ("nconvert --he", "--help")):
            r = run(["bash", "-c", 'source "$0"; COMP_WORDS=($1); COMP_CWORD=$((${#COMP_WORDS[@]}-1));'
                     ' _tavrik_decoder_complete; echo "${COMPREPLY[*]}"', script, line])
            self.assertEqual(r.stdout, expected + "\n", line)


class TwoStations(unittest.TestCase):
    def start(self, args, **kw):
        p = subprocess.Popen(args, env=TERMINAL, text=True, **kw)
        self.addCleanup(lambda: (p.poll() is None and p.kill(), p.wait(), p.stdout and p.stdout.close()))
        return p

    def test_two_stations_keep_their_own_kiss_logs_and_upload_queues(self):
        sample = kiss_frames(read(SAMPLE))
        tmp = tempfile.mkdtemp(prefix="tavrik-stations-")
        self.addCleanup(shutil.rmtree, tmp)
        dead = socket.socket()
        dead.bind(("127.0.0.1", 0))  # bound, never listening: uploads stay queued
        self.addCleanup(dead.close)
        stations, programs = {"VHF1": 7, "UHF2": 16}, {}
        for call, count in stations.items():
            feed = self.start([os.path.join(BIN, "agw-replay"), "--port", "0", "--interval-ms", "20",
                               "--count", str(count), SAMPLE], stdout=subprocess.PIPE)
            port = re.search(r"listening on 127\.0\.0\.1:(\d+)", feed.stdout.readline()).group(1)
            folder = os.path.join(tmp, call)
            os.mkdir(folder)
            with open(os.path.join(folder, "online_conf.ini"), "w") as f:
                f.write("PORT=127.0.0.1:%s\nMYCALL=%s\nSERVER=http://127.0.0.1:%d/%s\nUPLOAD_RETRY=YES\n"
                        % (port, call, dead.getsockname()[1], call))
            programs[call] = self.start([DECODER, "-platform", "offscreen", "--station", folder],
                                        stderr=subprocess.DEVNULL)

        def state(call):
            logs = glob.glob(os.path.join(tmp, call, "*.kss"))
            frames = [fr for log in logs for fr in kiss_frames(read(log))]
            queued = b"".join(map(read, glob.glob(os.path.join(tmp, call, "upload_queue/*/*.seg"))))
            return logs, frames, queued

        for call, count in stations.items():
            uploads = sum(1 for frame in sample[:count] if frame.startswith(TELEMETRY))
            end = time.monotonic() + 90
            while (len(state(call)[1]), state(call)[2].count(b"TUQ1")) != (count, uploads):
                self.assertLess(time.monotonic(), end, "gave up waiting for %s's frames and uploads" % call)
                time.sleep(0.1)
        for call, count in stations.items():
            programs[call].send_signal(signal.SIGTERM)
            self.assertEqual(programs[call].wait(60), 0)
            logs, frames, queued = state(call)
            self.assertEqual([os.path.basename(log)[:5] for log in logs], [call + "_"])
            self.assertEqual(frames, sample[:count])
            self.assertIn(call.encode(), queued)
            self.assertNotIn(next(c for c in stations if c != call).encode(), queued)


if __name__ == "__main__":
    unittest.main(verbosity=2)
