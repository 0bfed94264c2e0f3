#!/usr/bin/env python3
"""The programs as a user first meets them in a terminal without a display:
--help and --version, a bad option, no display, a bad --station folder, and
two stations side by side from two folders, each fed by its own replay feed."""
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
NO_DISPLAY = ("no display found: to run this station without a screen, start it with -platform "
              "offscreen (see man tavrik-decoder, A station without a screen)\n")
TELEMETRY = bytes.fromhex("00 A8 82 AC A4 92 96 00 A8 82 AC A4 92 96 00 03 F0")

# A terminal of a machine without a screen: no display, no platform chosen.
TERMINAL = {k: v for k, v in os.environ.items()
            if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}


def project_version():
    with open(os.path.join(SOURCE_DIR, "CMakeLists.txt")) as f:
        return re.search(r"project\(\w+ VERSION ([\d.]+)", f.read()).group(1)


def run(args, env=TERMINAL, **kw):
    return subprocess.run(args, env=env, capture_output=True, text=True, timeout=60, **kw)


def kiss_frames(data):
    records = [r for r in data.split(b"\xc0") if r and r[0] != 0x09]
    return [r.replace(b"\xdb\xdc", b"\xc0").replace(b"\xdb\xdd", b"\xdb") for r in records]


def wait_for(what, condition, seconds=90):
    end = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > end:
            raise AssertionError("gave up waiting for " + what)
        time.sleep(0.1)


class FirstContact(unittest.TestCase):
    def test_help_and_version_answer_without_a_display(self):
        version = project_version()
        for program in ("tavrik-decoder", "agw-replay", "tavrik-decode", "nconvert"):
            with self.subTest(program=program):
                r = run([os.path.join(BIN, program), "--version"])
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertRegex(r.stdout, r"^%s .*%s\n$" % (program, re.escape(version)))
                r = run([os.path.join(BIN, program), "--help"])
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn("--version", r.stdout)
                self.assertRegex(r.stdout, r"(?i)usage: \S*%s" % program)

    def test_the_program_names_its_station_folder_and_refuses_what_it_does_not_know(self):
        with tempfile.TemporaryDirectory() as tmp:
            r = run([DECODER, "--help", "--station", "vhf"], cwd=tmp)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn("Station folder in use: %s/vhf\n" % tmp, r.stdout)
            self.assertIn("%s/vhf/online_conf.ini" % tmp, r.stdout)
            self.assertFalse(os.path.exists(os.path.join(tmp, "vhf")), "--help must create nothing")
        self.assertIn("Station folder in use: %s\n" % os.path.realpath(BIN), run([DECODER, "-h"]).stdout)
        # Qt's own options pass through; an unknown one is a usage error.
        self.assertEqual(run([DECODER, "-platform", "offscreen", "-style=fusion", "--version"]).returncode, 0)
        for bad in (["--bogus"], ["--station"], ["stray"]):
            with self.subTest(args=bad):
                r = run([DECODER, *bad])
                self.assertEqual((r.returncode, r.stdout), (2, ""))
                self.assertIn("Usage: tavrik-decoder", r.stderr)

    def test_no_display_is_one_plain_line_and_exit_status_1(self):
        # None named, and one named where no X server listens (Qt would abort there).
        for env in (TERMINAL, dict(TERMINAL, DISPLAY=":87")):
            with self.subTest(display=env.get("DISPLAY")):
                r = run([DECODER], env=env)
                self.assertEqual((r.returncode, r.stderr, r.stdout), (1, NO_DISPLAY, ""))

    def test_a_station_folder_that_cannot_be_used_is_refused_with_the_reason(self):
        with tempfile.TemporaryDirectory() as tmp:
            afile = os.path.join(tmp, "afile")
            open(afile, "w").close()
            for folder, reason in ((afile, "is a file, not a folder"),
                                   (afile + "/sub", "cannot be created: Not a directory")):
                with self.subTest(folder=folder):
                    r = run([DECODER, "-platform", "offscreen", "--station", folder])
                    self.assertEqual(r.returncode, 1)
                    self.assertIn("tavrik-decoder: station folder %s %s\n" % (folder, reason), r.stderr)

    def test_completion_offers_the_options(self):
        script = os.path.join(SOURCE_DIR, "packaging", "bash-completion", "tavrik-decoder")
        for line, expected in (("tavrik-decoder --st", "--station"),
                               ("tavrik-decode --format j", "json"),
                               ("agw-replay --ver", "--version"),
                               ("nconvert --he", "--help")):
            with self.subTest(line=line):
                r = run(["bash", "-c", 'source "$0"; COMP_WORDS=($1); COMP_CWORD=$((${#COMP_WORDS[@]}-1));'
                         ' _tavrik_decoder_complete; echo "${COMPREPLY[*]}"', script, line])
                self.assertEqual(r.stdout, expected + "\n", r.stderr)


class TwoStations(unittest.TestCase):
    """Two receivers on one computer: two feeds, two programs, two folders."""

    def start(self, args, **kw):
        p = subprocess.Popen(args, env=TERMINAL, text=True, **kw)
        self.addCleanup(lambda: (p.poll() is None and p.kill(), p.wait(), p.stdout and p.stdout.close()))
        return p

    def test_two_stations_keep_their_own_kiss_logs_and_upload_queues(self):
        with open(SAMPLE, "rb") as f:
            sample = kiss_frames(f.read())
        tmp = tempfile.mkdtemp(prefix="tavrik-stations-")
        self.addCleanup(shutil.rmtree, tmp)
        dead = socket.socket()
        dead.bind(("127.0.0.1", 0))  # bound, never listening: uploads stay queued
        self.addCleanup(dead.close)
        stations = {"VHF1": 7, "UHF2": 16}
        programs = {}
        for call, count in stations.items():
            feed = self.start([os.path.join(BIN, "agw-replay"), "--port", "0", "--interval-ms", "20",
                               "--count", str(count), SAMPLE], stdout=subprocess.PIPE)
            port = re.search(r"listening on 127\.0\.0\.1:(\d+)", feed.stdout.readline()).group(1)
            folder = os.path.join(tmp, call.lower())
            os.mkdir(folder)
            with open(os.path.join(folder, "online_conf.ini"), "w") as f:
                f.write("PORT=127.0.0.1:%s\nMYCALL=%s\nSERVER=http://127.0.0.1:%d/%s\nUPLOAD_RETRY=YES\n"
                        % (port, call, dead.getsockname()[1], call))
            programs[call] = self.start([DECODER, "-platform", "offscreen", "--station", folder],
                                        stderr=subprocess.DEVNULL)

        def folder_state(call):
            folder = os.path.join(tmp, call.lower())
            logs = glob.glob(os.path.join(folder, "*.kss"))
            frames = []
            for log in logs:
                with open(log, "rb") as f:
                    frames += kiss_frames(f.read())
            queued = b""
            for seg in glob.glob(os.path.join(folder, "upload_queue", "*", "*.seg")):
                with open(seg, "rb") as f:
                    queued += f.read()
            return logs, frames, queued

        for call, count in stations.items():
            expected = sample[:count]
            uploads = sum(1 for frame in expected if frame.startswith(TELEMETRY))
            wait_for(call + "'s frames and uploads",
                     lambda: (len(folder_state(call)[1]) == count
                              and folder_state(call)[2].count(b"TUQ1") == uploads))
        for call, count in stations.items():
            programs[call].send_signal(signal.SIGTERM)
            self.assertEqual(programs[call].wait(60), 0)
            logs, frames, queued = folder_state(call)
            other = next(c for c in stations if c != call)
            self.assertEqual([os.path.basename(l)[:5] for l in logs], [call + "_"])
            self.assertEqual(frames, sample[:count])
            self.assertIn(call.encode(), queued)
            self.assertNotIn(other.encode(), queued)


if __name__ == "__main__":
    unittest.main(verbosity=2)
