#!/usr/bin/env python3
"""The manual stays in step with the program: every settings key the program
reads has one row in the station guide's settings table, with the default the
program itself writes (tavrik-decoder --default-config) and no row for a key it
does not read; every key is in the man page; every option a program's --help
names is in its man page and in the manual; every API endpoint has its example."""
import glob
import os
import re
import subprocess
import unittest

SOURCE_DIR = os.environ.get("TAVRIK_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", "..")
BIN_DIR = os.environ.get("TAVRIK_BIN_DIR") or os.path.join(SOURCE_DIR, "build", "bin")
GUIDE = os.path.join(SOURCE_DIR, "docs", "station-guide.md")
MAIN_PAGE = os.path.join(SOURCE_DIR, "packaging", "tavrik-decoder.1")
# Each program with its man page.
PROGRAMS = {"tavrik-decoder": MAIN_PAGE}
for page in glob.glob(os.path.join(SOURCE_DIR, "tools", "*", "*.1")):
    PROGRAMS[os.path.splitext(os.path.basename(page))[0]] = page


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def man_text(path):
    """The page's words as a reader sees them: no font changes, "\\-" as "-"."""
    return re.sub(r"\\f[BIRP]|\\&", "", read(path)).replace("\\-", "-")


def manual_text():
    return "\n".join(read(p) for p in glob.glob(os.path.join(SOURCE_DIR, "docs", "*.md")) +
                     [os.path.join(SOURCE_DIR, "README.md")])


def program_keys():
    """The keys the settings parser reads (its "key == ..." branches)."""
    keys = set()
    for path in glob.glob(os.path.join(SOURCE_DIR, "src", "files", "StationConfig*.cpp")):
        keys |= set(re.findall(r'key == "([A-Z][A-Z0-9_]*)"', read(path)))
    return keys


def settings_table():
    """{KEY: default cell} of the station guide's settings table."""
    text = read(GUIDE)
    start = text.index("<!-- settings table")
    rows = {}
    for line in text[start:].splitlines()[1:]:
        if not line.startswith("|"):
            if rows:
                break
            continue
        cells = [c.strip() for c in line.strip("|").split("|")]
        m = re.fullmatch(r"`([A-Z][A-Z0-9_]*)`", cells[0])
        if m:
            rows[m.group(1)] = cells[1]
    return rows


def default_config():
    out = subprocess.run([os.path.join(BIN_DIR, "tavrik-decoder"), "--default-config"],
                         stdout=subprocess.PIPE, check=True, timeout=60).stdout.decode()
    values = {}
    for line in out.splitlines():
        if line.strip() and not line.startswith("#"):
            key, _, value = line.rstrip("\r").partition("=")
            values[key.strip()] = value.strip()
    return values


class ManualTest(unittest.TestCase):
    def test_the_settings_table_is_the_programs_keys_with_their_defaults(self):
        keys, table, defaults = program_keys(), settings_table(), default_config()
        self.assertGreater(len(keys), 15)
        self.assertEqual(sorted(keys - table.keys()), [],
                         "keys without a row in docs/station-guide.md's settings table")
        self.assertEqual(sorted(table.keys() - keys), [], "rows for keys the program does not read")
        self.assertEqual(sorted(defaults.keys() - keys), [], "default configuration keys nobody reads")
        for key in sorted(keys):
            with self.subTest(key=key):
                want = "—" if key not in defaults else ("(empty)" if defaults[key] == "" else "`%s`" % defaults[key])
                self.assertEqual(table[key], want)

    def test_every_key_is_in_the_man_page(self):
        page = man_text(MAIN_PAGE)
        for key in sorted(program_keys()):
            with self.subTest(key=key):
                self.assertTrue(re.search(r"(?<![A-Z_])%s(?![A-Z_])" % key, page), "not in the man page")

    def test_every_option_is_in_its_man_page_and_the_manual(self):
        manual = manual_text()
        for program, page in sorted(PROGRAMS.items()):
            r = subprocess.run([os.path.join(BIN_DIR, program), "--help"], stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, timeout=60, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
            options = set(re.findall(r"(?<![\w/.-])(--?[a-z][a-z0-9-]*)", r.stdout.decode()))
            self.assertTrue(options, program)
            text = man_text(page)
            for option in sorted(options):
                with self.subTest(program=program, option=option):
                    bounded = r"(?<![\w-])%s(?![\w-])" % re.escape(option)
                    self.assertTrue(re.search(bounded, text), "not in " + os.path.relpath(page, SOURCE_DIR))
                    self.assertTrue(re.search(bounded, manual), "not in docs/ or README.md")

    def test_every_api_endpoint_has_an_example(self):
        api = read(os.path.join(SOURCE_DIR, "src", "web", "WebApi.cpp"))
        web = read(os.path.join(SOURCE_DIR, "docs", "web.md")) + read(os.path.join(SOURCE_DIR, "docs", "metrics.md"))
        endpoints = set(re.findall(r'"(/(?:api/[a-z]+|metrics))"', api))
        self.assertGreaterEqual(len(endpoints), 5)
        for endpoint in sorted(endpoints):
            with self.subTest(endpoint=endpoint):
                self.assertTrue(re.search(r"curl [^\n]*%s" % re.escape(endpoint), web), "no curl example")


if __name__ == "__main__":
    unittest.main()
