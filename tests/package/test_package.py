#!/usr/bin/env python3
"""The package built by CPack from this build folder, unpacked into a temporary
root and started there under the offscreen platform by a user whose home is a
temporary folder, against the replay feed on 127.0.0.1:8000."""
import glob
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

BUILD = os.environ["TAVRIK_BUILD_DIR"]


def kiss_frames(data):
    """The frame records of a KISS byte stream, unescaped; None when the
    stream ends inside a record."""
    if data and not data.endswith(b"\xc0"):
        return None
    records = [r for r in data.split(b"\xc0") if r and r[0] != 0x09]
    return [r.replace(b"\xdb\xdc", b"\xc0").replace(b"\xdb\xdd", b"\xdb") for r in records]


def wait_for(what, condition, seconds=60):
    end = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > end:
            raise AssertionError("gave up waiting for " + what)
        time.sleep(0.05)


class UnpackedPackage(unittest.TestCase):
    def test_installed_program_runs_from_a_station_folder_of_its_own(self):
        tmp = tempfile.mkdtemp(prefix="tavrik-package-")
        self.addCleanup(shutil.rmtree, tmp)
        subprocess.run(["cpack", "-G", "DEB", "-B", tmp, "-D", "CPACK_DEBIAN_COMPRESSION_TYPE=none",
                        "-D", "CPACK_STRIP_FILES=OFF"], cwd=BUILD, check=True,
                       stdout=subprocess.DEVNULL)
        deb = glob.glob(os.path.join(tmp, "tavrik-decoder_*.deb"))[0]
        depends = subprocess.check_output(["dpkg-deb", "-f", deb, "Depends"], text=True)
        self.assertIn("libqt6widgets6", depends)
        self.assertIn("qt6-qpa-plugins", depends)
        root = os.path.join(tmp, "root")
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        usr = os.path.join(root, "usr")
        subprocess.run(["desktop-file-validate",
                        os.path.join(usr, "share/applications/tavrik-decoder.desktop")], check=True)
        # The units name the installed program; the template gives each instance a folder.
        with open(os.path.join(usr, "lib/systemd/user/tavrik-decoder@.service")) as f:
            self.assertIn("ExecStart=/usr/bin/tavrik-decoder --headless "
                          "--station %h/.local/share/tavrik-decoder-%i\n", f.read())
        with open(os.path.join(usr, "lib/systemd/user/tavrik-decoder.service")) as f:
            self.assertIn("ExecStart=/usr/bin/tavrik-decoder --headless\n", f.read())
        for program in ("tavrik-decoder", "agw-replay", "tavrik-decode", "tavrik-archive", "nconvert", "tavrik-sky"):
            completion = os.path.join(usr, "share/bash-completion/completions", program)
            self.assertIn(program, open(completion).read(), completion)

        home = os.path.join(tmp, "home")
        os.mkdir(home)
        station = os.path.join(home, ".local/share/tavrik-decoder")
        env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "QT_QPA"))}
        env["HOME"] = home
        program = [os.path.join(usr, "bin/tavrik-decoder"), "-platform", "offscreen"]
        sample = os.path.join(usr, "share/tavrik-decoder/sample_pass.kss")
        with open(sample, "rb") as f:
            sample_frames = kiss_frames(f.read())

        def start(name):
            err = open(os.path.join(tmp, name), "w+")
            return subprocess.Popen(program, env=env, cwd=tmp, stderr=err), err

        def logs():
            return glob.glob(os.path.join(station, "*.kss"))

        def log_frames():
            with open(logs()[0], "rb") as f:
                return kiss_frames(f.read()) or []

        # A first run: the station folder and its default configuration appear,
        # frames arrive, and SIGTERM ends it mid-stream as File, Exit does.
        feed = subprocess.Popen([os.path.join(usr, "bin/agw-replay"), "--port", "8000",
                                 "--interval-ms", "10", "--loop", sample],
                                stderr=subprocess.DEVNULL)
        run, err = start("run1.err")
        try:
            wait_for("frames in the KISS log", lambda: len(logs()) == 1 and len(log_frames()) >= 30)
            run.send_signal(signal.SIGTERM)
            self.assertEqual(run.wait(60), 0)
        finally:
            feed.terminate()
            feed.wait()
            run.kill()
        default = subprocess.check_output([program[0], "--default-config"])
        with open(os.path.join(station, "online_conf.ini"), "rb") as f:
            self.assertEqual(f.read(), default)
        self.assertIn(b"AGW_RECONNECT=YES\r\nUPLOAD_RETRY=YES\r\nARCHIVE=YES\r\n", default)
        err.seek(0)
        self.assertIn("wrote a working default", err.read())
        # Complete: every frame in the order sent, none cut off at the end.
        frames = log_frames()
        self.assertEqual(frames, [sample_frames[i % len(sample_frames)] for i in range(len(frames))])

        # A second run without a feed: SIGINT, and the empty log is removed.
        run, err = start("run2.err")
        try:
            wait_for("start-up", lambda: "Winsock RemotePort" in open(err.name).read())
            run.send_signal(signal.SIGINT)
            self.assertEqual(run.wait(60), 0)
        finally:
            run.kill()
        self.assertEqual(len(logs()), 1)


if __name__ == "__main__":
    unittest.main()
