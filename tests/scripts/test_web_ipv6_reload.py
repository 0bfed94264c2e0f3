#!/usr/bin/env python3
"""The real program without a screen: WEB=[::1]:PORT serves the page and API on
IPv6 loopback, and SIGHUP (the units' ExecReload=) never ends a station, with
or without a limits file to read again; SIGTERM still ends it cleanly."""
import http.client
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

PROGRAM = os.path.join(os.environ.get("TAVRIK_BIN_DIR", ""), "tavrik-decoder")


def free_port(family, host):
    with socket.socket(family) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


class WebIpv6AndReload(unittest.TestCase):
    def run_station(self, extra):
        folder = tempfile.mkdtemp(prefix="tavrik-v6-")
        self.addCleanup(shutil.rmtree, folder, True)
        web = free_port(socket.AF_INET6, "::1")
        modem = free_port(socket.AF_INET, "127.0.0.1")  # nothing listens there
        with open(os.path.join(folder, "online_conf.ini"), "w") as f:
            f.write("PORT=127.0.0.1:%d\r\nMYCALL=N0CALL\r\nWEB=[::1]:%d\r\n%s" % (modem, web, extra))
        log = open(os.path.join(folder, "stderr.txt"), "w+b")
        self.addCleanup(log.close)
        proc = subprocess.Popen([PROGRAM, "--station", folder, "-platform", "offscreen"],
                                stdout=subprocess.DEVNULL, stderr=log)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        return proc, web, log

    def get(self, port, path="/api/station"):
        conn = http.client.HTTPConnection("::1", port, timeout=5)
        try:
            conn.request("GET", path)
            r = conn.getresponse()
            return r.status, r.read()
        finally:
            conn.close()

    def wait_for_page(self, proc, port):
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            self.assertIsNone(proc.poll(), "the program ended")
            try:
                return self.get(port)
            except OSError:
                time.sleep(0.2)
        self.fail("no answer on [::1]:%d" % port)

    def test_ipv6_page_and_sighup(self):
        for name, extra in (("without limits", ""), ("with limits", "LIMITS=limits.conf\r\n")):
            with self.subTest(name):
                proc, port, log = self.run_station(extra)
                status, body = self.wait_for_page(proc, port)
                self.assertEqual(status, 200)
                self.assertIn(b'"modem"', body)
                log.seek(0)
                self.assertIn(b"web page on http://[::1]:%d/" % port, log.read())
                for _ in range(3):
                    proc.send_signal(signal.SIGHUP)
                    time.sleep(0.3)
                    self.assertEqual(self.get(port)[0], 200)  # still serving after the reload
                self.assertIsNone(proc.poll())
                proc.send_signal(signal.SIGTERM)
                self.assertEqual(proc.wait(timeout=60), 0)


if __name__ == "__main__":
    unittest.main()
