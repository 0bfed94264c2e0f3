#!/usr/bin/env python3
"""The real program fed by agw-replay, with INFLUX pointing at a real influxd
(Debian's influxdb) on loopback and UPLOAD_RETRY=YES: InfluxDB is stopped and
started again mid-run, and still every telemetry frame of the KISS log arrives
as one point, at its reception time, with the values the decoder gives."""
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest
import urllib.parse
import urllib.request

BIN = os.environ.get("TAVRIK_BIN_DIR", "")
SOURCE = os.environ.get("TAVRIK_SOURCE_DIR", "")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, limit_s):
    end = time.monotonic() + limit_s
    while time.monotonic() < end:
        result = what()
        if result:
            return result
        time.sleep(0.2)
    return what()


class Influxd:
    def __init__(self, folder):
        self.port, self.folder = free_port(), folder
        self.conf = os.path.join(folder, "influxdb.conf")
        with open(self.conf, "w") as f:
            f.write(f'reporting-enabled = false\nbind-address = "127.0.0.1:{free_port()}"\n'
                    f'[meta]\n dir = "{folder}/meta"\n[data]\n dir = "{folder}/data"\n'
                    f' wal-dir = "{folder}/wal"\n[monitor]\n store-enabled = false\n'
                    f'[http]\n bind-address = "127.0.0.1:{self.port}"\n log-enabled = false\n')
        self.proc = None

    def start(self):
        with open(os.path.join(self.folder, "influxd.log"), "a") as log:
            self.proc = subprocess.Popen(["influxd", "-config", self.conf],
                                         stdout=subprocess.DEVNULL, stderr=log)
        assert wait_for(lambda: self.query("SHOW DATABASES") is not None, 30), "influxd not up"

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            self.proc.wait(30)

    def query(self, q):
        data = urllib.parse.urlencode({"q": q, "db": "tavrik"}).encode()
        try:
            with urllib.request.urlopen(f"http://127.0.0.1:{self.port}/query", data, 5) as r:
                return json.load(r)["results"][0]
        except OSError:
            return None


@unittest.skipUnless(shutil.which("influxd"), "influxd (Debian's influxdb) not installed")
class InfluxStation(unittest.TestCase):
    def test_every_frame_a_point_across_an_influxdb_restart(self):
        with tempfile.TemporaryDirectory() as tmp:
            influx = Influxd(tmp)
            self.addCleanup(influx.stop)
            influx.start()
            influx.query("CREATE DATABASE tavrik")
            replay = subprocess.Popen(
                [os.path.join(BIN, "agw-replay"), "--port", "0", "--interval-ms", "60",
                 os.path.join(SOURCE, "data", "sample_pass.kss")], stdout=subprocess.PIPE, text=True)
            self.addCleanup(replay.wait, 30)
            self.addCleanup(replay.terminate)
            self.addCleanup(replay.stdout.close)
            agw = int(re.search(r"listening on [0-9.]+:(\d+)", replay.stdout.readline()).group(1))
            station = os.path.join(tmp, "station")
            os.mkdir(station)
            shutil.copy(os.path.join(BIN, "tavrik-decoder"), station)
            with open(os.path.join(station, "online_conf.ini"), "w") as f:
                f.write(f"PORT=127.0.0.1:{agw}\r\nMYCALL=N0CALL\r\nUPLOAD_RETRY=YES\r\n"
                        f"INFLUX=http://127.0.0.1:{influx.port}/write?db=tavrik\r\n"
                        "INFLUX_TOKEN=not-to-be-seen\r\n")
            log = open(os.path.join(tmp, "program.log"), "w+")
            self.addCleanup(log.close)
            program = subprocess.Popen([os.path.join(station, "tavrik-decoder")], cwd=station,
                                       stderr=log, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
            try:
                expected = self.run_with_restart(influx, station)
            finally:
                program.terminate()
                program.wait(30)
            log.seek(0)
            text = log.read()
            self.assertNotIn("not-to-be-seen", text)
            # It failed while InfluxDB was down (refused, or a 500 while it shut down) and recovered.
            self.assertIn("InfluxDB http://127.0.0.1:%d/write takes the points again" % influx.port,
                          text)
            self.compare(influx, expected)

    def decoded(self, station):
        """The telemetry frames of the program's KISS log, as tavrik-decode reads them."""
        logs = [os.path.join(station, n) for n in os.listdir(station) if n.endswith(".kss")]
        # A log being written may end inside a record: that one is left for the next look.
        out = subprocess.run([os.path.join(BIN, "tavrik-decode"), "--format", "json"] + logs,
                             capture_output=True, text=True).stdout
        return [json.loads(line) for line in out.splitlines()]

    def run_with_restart(self, influx, station):
        total = len(self.decoded(os.path.join(SOURCE, "data")))
        self.assertTrue(wait_for(lambda: len(self.decoded(station)) >= 20, 60))
        influx.stop()
        heard = len(self.decoded(station))
        self.assertTrue(wait_for(lambda: len(self.decoded(station)) >= heard + 20, 60))
        influx.start()
        self.assertTrue(wait_for(lambda: len(self.decoded(station)) == total, 120))
        count = lambda: (influx.query('SELECT count("Uptime") FROM tavrik').get("series") or
                         [{"values": [[0, 0]]}])[0]["values"][0][1]
        wait_for(lambda: count() == total, 120)
        return self.decoded(station)

    def compare(self, influx, expected):
        series = influx.query("SELECT * FROM tavrik")["series"][0]
        points = [dict(zip(series["columns"], v)) for v in series["values"]]
        self.assertEqual(len(points), len(expected))
        for point, row in zip(points, expected):
            when = row["Reception time [UTC]"].replace(" ", "T").rstrip("0").rstrip(".") + "Z"
            self.assertEqual(point["time"], when)
            self.assertEqual(point["source"], row["Source"])
            for key, value in point.items():
                if key not in ("time", "source"):
                    unit = next(k for k in row if k == key or k.startswith(key + " ["))
                    self.assertEqual(value, row[unit], key)


if __name__ == "__main__":
    unittest.main(verbosity=2)
