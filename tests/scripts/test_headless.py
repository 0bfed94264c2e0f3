#!/usr/bin/env python3
"""The real program without a screen, as its service unit runs it (--headless):
a start-up failure writes its "Open Error" text to standard error and ends the
program with exit status 1 instead of leaving it idle; a working station fed
by agw-replay logs, archives, uploads and serves its page, with the limits'
states on it, and loads no platform plugin."""
import http.server
import json
import os
import re
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.request

BIN = os.environ.get("TAVRIK_BIN_DIR", "")
SOURCE = os.environ.get("TAVRIK_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", "..")
PROGRAM = os.path.join(BIN, "tavrik-decoder")
# No display and no platform chosen: what a service sees.
NO_SCREEN = {k: v for k, v in os.environ.items()
             if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, limit_s=60):
    end = time.monotonic() + limit_s
    while time.monotonic() < end:
        try:
            result = what()
            if result:
                return result
        except OSError:
            pass
        time.sleep(0.2)
    return None


class Collector(http.server.BaseHTTPRequestHandler):
    """A telemetry server that takes every POST."""
    bodies = []

    def do_POST(self):
        Collector.bodies.append(self.rfile.read(int(self.headers["Content-Length"])))
        self.send_response(200)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


class Headless(unittest.TestCase):
    def test_open_error_ends_the_program(self):
        cases = [
            ("missing", None, "Error # 53"),
            ("binary", bytes(range(256)) * 4, "Error # 5"),
            ("port 0", b"PORT=127.0.0.1:0\r\n", "Error # 13"),
            ("too large", b"PORT=127.0.0.1:8000\r\n" + b"#" * (1 << 20), "Error # 7"),
        ]
        for name, config, number in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                # The program's own folder is its station folder when writable.
                shutil.copy(PROGRAM, folder)
                if config is not None:
                    with open(os.path.join(folder, "online_conf.ini"), "wb") as f:
                        f.write(config)
                r = subprocess.run([os.path.join(folder, "tavrik-decoder"), "--headless"],
                                   env=NO_SCREEN, capture_output=True, timeout=60)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn(b"Open Error: The following error occured:  " + number.encode(),
                              r.stderr)

    def test_runs_without_screen(self):
        collector = http.server.HTTPServer(("127.0.0.1", 0), Collector)
        threading.Thread(target=collector.serve_forever, daemon=True).start()
        self.addCleanup(collector.shutdown)
        with tempfile.TemporaryDirectory() as folder:
            replay = subprocess.Popen(
                [os.path.join(BIN, "agw-replay"), "--port", "0", "--interval-ms", "40",
                 os.path.join(SOURCE, "data", "sample_pass.kss")], stdout=subprocess.PIPE, text=True)
            self.addCleanup(replay.wait, 10)
            self.addCleanup(replay.terminate)
            agw = int(re.search(r"listening on [0-9.]+:(\d+)", replay.stdout.readline()).group(1))
            web = free_port()
            with open(os.path.join(folder, "limits.conf"), "w") as f:
                # Uptime is never below this: red-low on every frame.
                f.write("Uptime 1000000 - - -\n")
            with open(os.path.join(folder, "online_conf.ini"), "w", newline="") as f:
                f.write("PORT=127.0.0.1:%d\r\nMYCALL=N0CALL\r\nSERVER=http://127.0.0.1:%d/x\r\n"
                        "WEB=127.0.0.1:%d\r\nARCHIVE=YES\r\nLIMITS=limits.conf\r\n"
                        % (agw, collector.server_port, web))
            log = open(os.path.join(folder, "stderr.txt"), "w+")
            self.addCleanup(log.close)
            proc = subprocess.Popen([PROGRAM, "--headless", "--station", folder], env=NO_SCREEN,
                                    stderr=log)
            self.addCleanup(lambda: proc.poll() is None and proc.kill())
            get = lambda path: urllib.request.urlopen("http://127.0.0.1:%d%s" % (web, path), timeout=5).read()
            station = lambda: json.loads(get("/api/station"))
            self.assertTrue(wait_for(lambda: station()["frames"]["this_run"] >= 20),
                            open(log.name).read())
            with open("/proc/%d/maps" % proc.pid) as f:
                maps = f.read()
            # Widgets and Gui are linked, never started: no platform plugin is loaded.
            for plugin in ("/platforms/", "libqxcb", "libqoffscreen", "libQt6XcbQpa"):
                self.assertNotIn(plugin, maps)
            self.assertTrue(wait_for(lambda: len(Collector.bodies) >= 20))
            self.assertTrue(wait_for(lambda: station()["archive_rows"]))

            current = json.loads(get("/api/current"))
            uptime = next(f for f in current["values"] if f["name"] == "Uptime")
            self.assertEqual((uptime["limit"]["level"], uptime["limit"]["state"]), ("red", "red-low"))
            metrics = get("/metrics").decode()
            self.assertIn('tavrik_alarms_active{level="red"} 1\n', metrics)
            self.assertIn('tavrik_field_limit_state{field="Uptime"} 2\n', metrics)

            proc.terminate()
            self.assertEqual(proc.wait(30), 0)
            kiss = [n for n in os.listdir(folder) if n.endswith(".kss")]
            self.assertEqual(len(kiss), 1)
            self.assertGreater(os.path.getsize(os.path.join(folder, kiss[0])), 1000)
            self.assertIn("limit: Uptime", open(log.name).read())


if __name__ == "__main__":
    unittest.main()
