#!/usr/bin/env python3
"""docs/grafana/tavrik.json: it loads as JSON, every InfluxDB query names the
measurement, tag and fields the program's feed really writes (the lines of
tavrik-archive export --format influx, made by the feed's own formatter), every
Prometheus query a metric the program serves, and the file is what its
generator makes from the example limits (so the thresholds follow the limits)."""
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.environ.get("TAVRIK_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", "..")
BIN_DIR = os.environ.get("TAVRIK_BIN_DIR") or os.path.join(SOURCE_DIR, "build", "bin")
DASHBOARD = os.path.join(SOURCE_DIR, "docs", "grafana", "tavrik.json")


def feed_lines():
    with tempfile.TemporaryDirectory() as tmp:
        db = os.path.join(tmp, "a.sqlite")
        tool = os.path.join(BIN_DIR, "tavrik-archive")
        subprocess.run([tool, "import", db, os.path.join(SOURCE_DIR, "data", "sample_pass.kss")],
                       check=True, stdout=subprocess.DEVNULL, timeout=120)
        out = subprocess.run([tool, "export", db, "--format", "influx"], check=True,
                             stdout=subprocess.PIPE, timeout=120).stdout.decode()
    return out.splitlines()


def split_unescaped(text, sep):
    return [p.replace("\\" + sep, sep) for p in re.split(r"(?<!\\)" + re.escape(sep), text)]


class GrafanaDashboardTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(DASHBOARD, encoding="utf-8") as f:
            cls.board = json.load(f)
        cls.fields, cls.tags, cls.measurements = set(), set(), set()
        for line in feed_lines():
            head, fields, _stamp = split_unescaped(line, " ")
            measurement, *tags = split_unescaped(head, ",")
            cls.measurements.add(measurement)
            cls.tags |= {t.split("=", 1)[0] for t in tags}
            cls.fields |= {f.split("=", 1)[0] for f in split_unescaped(fields, ",")}
        cls.targets = [t for p in cls.board["panels"] for t in p.get("targets", [])]

    def test_every_influx_query_names_what_the_feed_writes(self):
        self.assertEqual(len(self.fields), 46, sorted(self.fields))
        queries = [t["query"] for t in self.targets if t["datasource"]["type"] == "influxdb"]
        queries.append(self.board["templating"]["list"][0]["query"])
        self.assertGreater(len(queries), 10)
        for query in queries:
            with self.subTest(query=query):
                self.assertTrue(set(re.findall(r'FROM "([^"]+)"', query)) <= self.measurements)
                for field in re.findall(r'\b\w+\("([^"]+)"\)', query):
                    self.assertIn(field, self.fields)
                for tag in re.findall(r'(?:GROUP BY .*|AND |KEY = )"([^"]+)"', query):
                    if tag not in self.fields:
                        self.assertIn(tag, self.tags)

    def test_every_prometheus_query_names_a_served_metric(self):
        served = set()
        for name in os.listdir(os.path.join(SOURCE_DIR, "src", "web")):
            if name.endswith(".cpp"):
                with open(os.path.join(SOURCE_DIR, "src", "web", name)) as f:
                    served |= set(re.findall(r'"(tavrik_[a-z_]+)"', f.read()))
        exprs = [t["expr"] for t in self.targets if t["datasource"]["type"] == "prometheus"]
        self.assertTrue(exprs)
        for expr in exprs:
            for metric in re.findall(r"\btavrik_[a-z_]+", expr):
                self.assertIn(metric, served, expr)

    def test_the_file_is_what_its_generator_makes_from_the_limits(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "tavrik.json")
            subprocess.run([sys.executable, os.path.join(SOURCE_DIR, "docs", "grafana", "make_dashboard.py"),
                            "--output", out], check=True, timeout=60)
            with open(out) as f:
                made = json.load(f)
            self.assertEqual(made, self.board,
                             "docs/grafana/tavrik.json differs from make_dashboard.py's output: run it again")
        # The battery's line of the limits file, read here on its own: red-low,
        # yellow-low, yellow-high, red-high are the steps after the base colour.
        with open(os.path.join(SOURCE_DIR, "data", "limits.example.conf")) as f:
            line = [l for l in f if l.startswith("Batt volts")][0]
        limits = [float(w) for w in line.split()[2:6]]
        battery = [p for p in self.board["panels"] if p["title"] == "Batt volts"][0]
        steps = [s["value"] for s in battery["fieldConfig"]["defaults"]["thresholds"]["steps"]]
        self.assertEqual(steps, [None] + limits)


if __name__ == "__main__":
    unittest.main()
