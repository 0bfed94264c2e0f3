#!/usr/bin/env python3
"""The page's load (DOMContentLoaded: the whole page is in one document, so
this is its first paint) and the moment its 46 values are shown, in
headless Chromium on loopback, against the real program fed by agw-replay.
Usage: web_paint.py BIN_DIR SAMPLE.kss [runs]"""
import os, re, shutil, socket, subprocess, sys, tempfile, time, urllib.request

bin_dir, sample = sys.argv[1], sys.argv[2]
runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


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
    time.sleep(2)
    paint, live = [], []
    for _ in range(runs):
        with tempfile.TemporaryDirectory() as profile:
            dom = subprocess.run(
                ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--user-data-dir=" + profile, "--timeout=3000",
                 "--dump-dom", "http://127.0.0.1:%d/" % web],
                capture_output=True, text=True, timeout=120).stdout
        m = re.search(r'data-ready-ms="(\d+)" data-live-ms="(\d+)"', dom)
        if m:
            paint.append(int(m.group(1)))
            live.append(int(m.group(2)))
    paint.sort()
    live.sort()
    print("RESULT\tweb page loaded (median of %d)\t%d\tms" % (len(paint), paint[len(paint) // 2]))
    print("RESULT\tweb page values shown (median of %d)\t%d\tms" % (len(live), live[len(live) // 2]))
finally:
    prog.terminate()
    replay.terminate()
    prog.wait(10)
    replay.wait(10)
    shutil.rmtree(work, ignore_errors=True)
