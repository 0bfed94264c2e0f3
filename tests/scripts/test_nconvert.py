#!/usr/bin/env python3
"""The image converter run the way the screenshot button runs it, on BMP files
written here, with its PNG read back byte by byte."""
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

BIN_DIR = os.environ.get("TAVRIK_BIN_DIR", "")
NCONVERT = os.path.join(BIN_DIR, "nconvert")
BG = (240, 240, 240)
SCREENSHOT_ARGS = ["-out", "png", "-transpcolor", "240", "240", "240", "-colors", "256",
                   "-crop", "1", "37", "707", "640", "-quiet", "-D"]


def write_bmp(path, width, height, pixel):
    """A 24-bit bottom-up BMP; pixel(x, y) gives (r, g, b)."""
    stride = (width * 3 + 3) & ~3
    rows = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        rows += row
    header = struct.pack("<2sIHHI", b"BM", 54 + len(rows), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + rows)


def screenshot_like(x, y):
    """A window-like picture: light grey background, a few shapes, and a
    gradient with far more than 256 colours."""
    if 50 <= x < 250 and 60 <= y < 160:
        return (200, 30, 30)
    if (x - 400) ** 2 + (y - 300) ** 2 < 80 ** 2:
        return (20, 40, 220)
    if 100 <= y < 140 and 300 <= x < 700:
        return ((x * 7) % 256, (y * 5 + x) % 256, (x // 2) % 256)
    if x == 0 or y < 37:
        return (0, 0, 0)  # cut away by the crop
    return BG


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def read_png(path):
    """Returns the header fields, the palette, the transparency entries and
    the rows of palette indices."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG signature"
    pos, chunks = 8, []
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        assert zlib.crc32(kind + body) == crc, "bad CRC in chunk %r" % kind
        chunks.append((kind, body))
        pos += 12 + length
    assert chunks[0][0] == b"IHDR" and chunks[-1][0] == b"IEND"
    width, height, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    png = {"width": width, "height": height, "depth": depth, "type": ctype,
           "palette": [], "trns": b"", "rows": []}
    idat = b""
    for kind, body in chunks:
        if kind == b"PLTE":
            png["palette"] = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b"tRNS":
            png["trns"] = body
        elif kind == b"IDAT":
            idat += body
    if ctype != 3 or interlace != 0:
        return png
    raw = zlib.decompress(idat)
    rowbytes = (width * depth + 7) // 8
    prev = bytearray(rowbytes)
    pos = 0
    for _ in range(height):
        ftype = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + rowbytes])
        pos += 1 + rowbytes
        for i in range(rowbytes):
            a = line[i - 1] if i >= 1 else 0
            b = prev[i]
            c = prev[i - 1] if i >= 1 else 0
            if ftype == 1:
                line[i] = (line[i] + a) & 0xFF
            elif ftype == 2:
                line[i] = (line[i] + b) & 0xFF
            elif ftype == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif ftype == 4:
                line[i] = (line[i] + paeth(a, b, c)) & 0xFF
        prev = line
        per = 8 // depth
        idx = [(line[x // per] >> (8 - depth * (x % per + 1))) & ((1 << depth) - 1)
               for x in range(width)]
        png["rows"].append(idx)
    return png


def alpha(png, index):
    return png["trns"][index] if index < len(png["trns"]) else 255


class Converter(unittest.TestCase):
    def setUp(self):
        self.assertTrue(os.access(NCONVERT, os.X_OK), "no converter at %s" % NCONVERT)
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def run_nconvert(self, args):
        return subprocess.run([NCONVERT] + args, capture_output=True, text=True, timeout=120)

    def check_picture(self, png, source, x0, y0, tolerance):
        """Every pixel of the background colour is transparent, every other one
        opaque and close to its source colour."""
        self.assertEqual(png["type"], 3, "not a palette PNG")
        self.assertLessEqual(len(png["palette"]), 256)
        self.assertTrue(png["trns"], "no transparency chunk")
        for y, row in enumerate(png["rows"]):
            for x, index in enumerate(row):
                want = source(x + x0, y + y0)
                self.assertLess(index, len(png["palette"]))
                if want == BG:
                    self.assertEqual(png["palette"][index], BG)
                    self.assertEqual(alpha(png, index), 0, "background at %d,%d not clear" % (x, y))
                else:
                    self.assertEqual(alpha(png, index), 255, "pixel at %d,%d not opaque" % (x, y))
                    got = png["palette"][index]
                    worst = max(abs(g - w) for g, w in zip(got, want))
                    self.assertLessEqual(worst, tolerance, "pixel %d,%d: %s for %s" % (x, y, got, want))

    def test_screenshot_command_line(self):
        """The exact line the program runs, and the same options in another order."""
        orders = {
            "as the program writes it": SCREENSHOT_ARGS,
            "shuffled": ["-D", "-quiet", "-crop", "1", "37", "707", "640", "-colors", "256",
                         "-transpcolor", "240", "240", "240", "-out", "png"],
        }
        for name, args in orders.items():
            with self.subTest(order=name):
                bmp = os.path.join(self.dir, "tavrik_05032024.bmp")
                write_bmp(bmp, 720, 700, screenshot_like)
                result = self.run_nconvert(args + [bmp])
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout, "", "-quiet printed something")
                self.assertEqual(result.stderr, "")
                self.assertFalse(os.path.exists(bmp), "-D left the BMP")
                png = read_png(os.path.join(self.dir, "tavrik_05032024.png"))
                self.assertEqual((png["width"], png["height"]), (707, 640))
                # The gradient has far more colours than the palette holds.
                self.check_picture(png, screenshot_like, 1, 37, tolerance=48)
                # The solid shapes keep their colours exactly.
                self.assertEqual(png["palette"][png["rows"][60][100]], (200, 30, 30))
                self.assertEqual(png["palette"][png["rows"][263][399]], (20, 40, 220))

    def test_small_pictures(self):
        """Crops larger than the picture are clamped; few colours stay exact,
        grey-only pictures stay palette pictures with their transparent entry."""
        cases = [
            # name, width, height, pixel function, expected size
            ("smaller than the crop", 300, 200, screenshot_like, (299, 163)),
            ("grey only", 720, 700,
             lambda x, y: BG if (x // 40 + y // 40) % 2 else (128, 128, 128), (707, 640)),
            ("background only", 100, 100, lambda x, y: BG, (99, 63)),
            ("few colours", 710, 680,
             lambda x, y: [(255, 255, 255), BG, (0, 0, 0), (10, 200, 10)][(x + y) % 4],
             (707, 640)),
        ]
        for name, width, height, pixel, size in cases:
            with self.subTest(case=name):
                bmp = os.path.join(self.dir, "shot.bmp")
                write_bmp(bmp, width, height, pixel)
                result = self.run_nconvert(SCREENSHOT_ARGS + [bmp])
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertFalse(os.path.exists(bmp))
                png = read_png(os.path.join(self.dir, "shot.png"))
                self.assertEqual((png["width"], png["height"]), size)
                self.check_picture(png, pixel, 1, 37, tolerance=0)

    def test_colour_limit_and_plain_options(self):
        """-colors 16 gives at most 16 entries; without -quiet there is a line on
        stdout; without -D the input stays; -o names the output."""
        bmp = os.path.join(self.dir, "in.bmp")
        out = os.path.join(self.dir, "chosen.png")
        write_bmp(bmp, 720, 700, screenshot_like)
        result = self.run_nconvert(["-out", "png", "-colors", "16", "-transpcolor", "240", "240",
                                    "240", "-o", out, bmp])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("chosen.png", result.stdout)
        self.assertTrue(os.path.exists(bmp), "the input went without -D")
        png = read_png(out)
        self.assertEqual((png["width"], png["height"]), (720, 700))
        self.assertLessEqual(len(png["palette"]), 16)
        self.assertEqual(png["type"], 3)
        self.assertEqual(png["palette"][png["rows"][500][600]], BG)
        self.assertEqual(alpha(png, png["rows"][500][600]), 0)

    def test_failures_keep_the_input(self):
        good = os.path.join(self.dir, "good.bmp")
        bad = os.path.join(self.dir, "bad.bmp")
        missing = os.path.join(self.dir, "missing.bmp")
        cases = [
            # name, arguments, input that must still exist (or None), word in the message
            ("unknown option", ["-bogus"] + SCREENSHOT_ARGS + [good], good, "-bogus"),
            ("missing input", SCREENSHOT_ARGS + [missing], None, "missing.bmp"),
            ("unreadable picture", SCREENSHOT_ARGS + [bad], bad, "bad.bmp"),
            ("other output format", ["-out", "jpg", "-D", good], good, "jpg"),
            ("crop outside", ["-out", "png", "-crop", "900", "900", "10", "10", "-D", good], good,
             "crop"),
            ("colour count", ["-out", "png", "-colors", "1000", "-D", good], good, "-colors"),
            ("crop needs four numbers", ["-out", "png", "-D", "-crop", "1", "2", good], good,
             "-crop"),
            ("no input", SCREENSHOT_ARGS, None, "input"),
        ]
        for name, args, kept, word in cases:
            with self.subTest(case=name):
                write_bmp(good, 40, 40, lambda x, y: (1, 2, 3))
                with open(bad, "wb") as f:
                    f.write(b"BM this is no picture at all" * 10)
                result = self.run_nconvert(args)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn(word, result.stderr)
                if kept:
                    self.assertTrue(os.path.exists(kept), "the input was deleted")
                pngs = [n for n in os.listdir(self.dir) if n.endswith(".png")]
                self.assertEqual(pngs, [], "a PNG was left behind")


if __name__ == "__main__":
    unittest.main(verbosity=2)
