#!/usr/bin/env python3
"""scripts/check-deps.py finds a package the build or the start command uses
but install-deps does not list, even on this machine where it is installed."""
import os
import subprocess
import sys
import unittest

SOURCE_DIR = os.environ.get("TAVRIK_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", "..")
CHECK = os.path.join(SOURCE_DIR, "scripts", "check-deps.py")


class CheckDepsTest(unittest.TestCase):
    def test_an_unlisted_package_is_named_with_what_needs_it(self):
        # Each left out of the lists as if never written there: a CMake package
        # the build reads, and the package of a program the start command runs.
        cases = {"qt6-websockets-dev": "cmake/Qt6WebSockets/", "xvfb": "runs the program Xvfb"}
        args = [sys.executable, CHECK, "--start-only"]
        for package in cases:
            args += ["--without", package]
        r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=600)
        self.assertEqual(r.returncode, 1, r.stdout)
        for package, why in cases.items():
            with self.subTest(package=package):
                block = r.stdout.split("check-deps: " + package + " is needed", 1)
                self.assertEqual(len(block), 2, r.stdout)
                self.assertIn(why, block[1].split("check-deps:", 1)[0])


if __name__ == "__main__":
    unittest.main()
