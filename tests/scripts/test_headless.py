#!/usr/bin/env python3
"""The real program without a screen (as its service unit runs it): a start-up
failure writes its "Open Error" text to standard error and ends the program with
exit status 1 instead of leaving it idle."""
import os
import shutil
import subprocess
import tempfile
import unittest

PROGRAM = os.path.join(os.environ.get("TAVRIK_BIN_DIR", ""), "tavrik-decoder")


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
                env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
                r = subprocess.run([os.path.join(folder, "tavrik-decoder")], env=env,
                                   capture_output=True, timeout=60)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn(b"Open Error: The following error occured:  " + number.encode(),
                              r.stderr)


if __name__ == "__main__":
    unittest.main()
