#!/usr/bin/env python3
"""How long the page takes to load and paint in headless Chromium on
loopback, against the real program fed by agw-replay: a screenshot of the
page (taken once it has loaded and painted) less a screenshot of a blank
page, which is the browser's own start-up.
Usage: web_paint.py BIN_DIR SAMPLE.kss [runs]"""
import os, shutil, socket, statistics, subprocess, sys, tempfile, time, urllib.request

bin_dir, sample = sys.argv[1], sys.argv[2]
runs = int(sys.argv[3]) if len(sys.argv) > 3 else 7
CHROMIUM = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
            "--no-first-run", "--disable-background-networking", "--disable-component-update",
            "--disable-sync", "--window-size=1280,1800"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def shot_seconds(url, work):
    with tempfile.TemporaryDirectory() as profile:
        t = time.monotonic()
        subprocess.run(CHROMIUM + ["--user-data-dir=" + profile,
                                   "--screenshot=" + os.path.join(work, "shot.png"), url],
                       capture_output=True, timeout=120, check=True)
        return time.monotonic() - t


work = tempfile.mkdtemp()
agw, web = free_port(), free_port()
replay = subprocess.Popen([os.path.join(bin_dir, "agw-replay"), "--port", str(agw), "--loop",
                           "--interval-ms", "200", sample], stderr=subprocess.DEVNULL)
shutil.copy(os.path.join(bin_dir, "tavrik-decoder"), work)
with open(os.path.join(work, "online_conf.ini"), "w") as f:
    f.write("PORT=127.0.0.1:%d\nMYCALL=BENCH\nWEB=127.0.0.1:%d\n" % (agw, web))
time.sleep(0.3)
prog = subprocess.Popen([os.path.join(work, "tavrik-decoder"), "-platform", "offscreen"],
                        cwd=work, stderr=subprocess.DEVNULL)
try:
    for _ in range(100):
        try:
            urllib.request.urlopen("http://127.0.0.1:%d/api/current" % web, timeout=1)
            break
        except OSError:
            time.sleep(0.1)
    page, blank = [], []
    for _ in range(runs):  # interleaved, so both see the same load of the machine
        blank.append(shot_seconds("data:text/html,<p>blank</p>", work))
        page.append(shot_seconds("http://127.0.0.1:%d/" % web, work))
    p, b = statistics.median(page), statistics.median(blank)
    print("RESULT\tweb page load and paint, beyond a blank page (median of %d)\t%.0f\tms"
          % (runs, (p - b) * 1000))
    print("RESULT\tweb page screenshot, browser start included\t%.0f\tms" % (p * 1000))
finally:
    prog.terminate()
    replay.terminate()
    prog.wait(10)
    replay.wait(10)
    shutil.rmtree(work, ignore_errors=True)
