#!/usr/bin/env python3
"""Writes docs/grafana/tavrik.json, the Grafana dashboard over the program's
InfluxDB feed (INFLUX=, InfluxDB 1.x with InfluxQL) and its Prometheus metrics.

The panels follow the window's four groups; battery, bus voltage and the
temperatures draw their limits as thresholds, taken from a limits file (by
default data/limits.example.conf, made-up ranges: give your station's own
file and run this again). Field names are the feed's: the window's captions.

Usage: make_dashboard.py [--limits FILE] [--output FILE]
"""
import argparse
import json
import os

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.normpath(os.path.join(HERE, "..", ".."))
INFLUX = {"type": "influxdb", "uid": "${DS_INFLUXDB}"}
PROMETHEUS = {"type": "prometheus", "uid": "${DS_PROMETHEUS}"}
WHERE = 'WHERE $timeFilter AND "source" =~ /^$source$/'

# (group, [(caption, unit, panel kind)]): the key values of each of the window's groups.
GROUPS = [
    ("Status", [("OPS mode", "none", "stat"), ("Boot cnt", "none", "stat"),
                ("Uptime", "s", "stat"), ("Packet cnt", "none", "stat")]),
    ("TRXUV", [("RSSI", "none", "series"), ("PA temp", "celsius", "series"),
               ("TX curr", "mA", "series"), ("Bus voltage", "volt", "series")]),
    ("Antennas / Solar Panels", [("Temp side A", "celsius", "series"), ("Temp side B", "celsius", "series"),
                                 ("Temp SP0", "celsius", "series"), ("Temp SP2", "celsius", "series")]),
    ("Electrical Power Subsystem (EPS)", [("Batt volts", "mvolt", "series"), ("batt temp", "celsius", "series"),
                                         ("Solar curr", "mA", "series"), ("Total curr", "mA", "series"),
                                         ("temp BC #1", "celsius", "series")]),
]


def read_limits(path):
    """{caption: [red-low, yellow-low, yellow-high, red-high]} (None for "-") of the number fields."""
    limits = {}
    for line in open(path, encoding="utf-8"):
        if line.lstrip().startswith("#"):
            continue  # a comment; "#" inside a caption ("3v3 #1 curr") is the caption's
        words = line.split()
        # The caption is every word before the first of four limits ("-" or a number).
        for i in range(1, len(words)):
            tail = words[i:i + 4]
            if len(tail) == 4 and all(w == "-" or _number(w) is not None for w in tail):
                limits[" ".join(words[:i]).lower()] = [None if w == "-" else _number(w) for w in tail]
                break
    return limits


def _number(text):
    try:
        return float(text)
    except ValueError:
        return None


def thresholds(limit):
    """Grafana's threshold steps for red-low, yellow-low, yellow-high, red-high."""
    red_low, yellow_low, yellow_high, red_high = limit or [None] * 4
    steps = [{"color": "red" if red_low is not None else ("yellow" if yellow_low is not None else "green"),
              "value": None}]
    if red_low is not None and yellow_low is not None:
        steps.append({"color": "yellow", "value": red_low})
    if yellow_low is not None or red_low is not None:
        steps.append({"color": "green", "value": yellow_low if yellow_low is not None else red_low})
    if yellow_high is not None:
        steps.append({"color": "yellow", "value": yellow_high})
    if red_high is not None:
        steps.append({"color": "red", "value": red_high})
    return {"mode": "absolute", "steps": steps}


def influx_target(field, select="last", ref="A"):
    return {"datasource": INFLUX, "refId": ref, "rawQuery": True, "resultFormat": "time_series",
            "query": 'SELECT %s("%s") FROM "tavrik" %s GROUP BY time($__interval), "source" fill(none)'
                     % (select, field, WHERE),
            "alias": "$tag_source"}


def panel(pid, title, kind, targets, x, y, w, h, unit="none", limit=None, description=""):
    p = {"id": pid, "title": title, "gridPos": {"x": x, "y": y, "w": w, "h": h}, "targets": targets,
         "datasource": targets[0]["datasource"], "description": description,
         "fieldConfig": {"defaults": {"unit": unit, "thresholds": thresholds(limit)}, "overrides": []}}
    if kind == "stat":
        p.update(type="stat", options={"reduceOptions": {"calcs": ["lastNotNull"], "fields": "", "values": False},
                                       "colorMode": "value", "graphMode": "area", "textMode": "auto"})
    elif kind == "bars":
        p.update(type="timeseries", options={"legend": {"displayMode": "list", "placement": "bottom"}})
        p["fieldConfig"]["defaults"]["custom"] = {"drawStyle": "bars", "fillOpacity": 60, "spanNulls": False}
    else:
        p.update(type="timeseries", options={"legend": {"displayMode": "list", "placement": "bottom"}})
        # The satellite is heard in passes: points, never lines across the gaps.
        p["fieldConfig"]["defaults"]["custom"] = {
            "drawStyle": "points", "pointSize": 4, "spanNulls": False, "showPoints": "always",
            "thresholdsStyle": {"mode": "dashed+area" if limit else "off"}}
    return p


def dashboard(limits):
    panels, pid, y = [], 1, 0
    for group, fields in GROUPS:
        panels.append({"id": pid, "type": "row", "title": group, "collapsed": False,
                       "gridPos": {"x": 0, "y": y, "w": 24, "h": 1}, "panels": []})
        pid, y = pid + 1, y + 1
        width = 24 // len(fields)
        for i, (field, unit, kind) in enumerate(fields):
            limit = limits.get(field.lower())
            described = ("limits from the limits file as thresholds" if limit and any(v is not None for v in limit)
                         else "")
            panels.append(panel(pid, field, kind, [influx_target(field)], i * width, y, width,
                                4 if kind == "stat" else 8, unit,
                                limit if limit and any(v is not None for v in limit) else None, described))
            pid += 1
        y += 4 if fields[0][2] == "stat" else 8
    panels.append({"id": pid, "type": "row", "title": "Passes and uploads", "collapsed": False,
                   "gridPos": {"x": 0, "y": y, "w": 24, "h": 1}, "panels": []})
    pid, y = pid + 1, y + 1
    frames = influx_target("Packet cnt", select="count")
    frames["query"] = frames["query"].replace("GROUP BY time($__interval)", "GROUP BY time(20m)")
    panels.append(panel(pid, "Frames per pass", "bars", [frames], 0, y, 12, 8,
                        description="telemetry frames in 20-minute buckets: a pass is one bar"))
    pid += 1
    uploads = [
        {"datasource": PROMETHEUS, "refId": "A", "legendFormat": "accepted {{server}}",
         "expr": "increase(tavrik_uploads_accepted_total[1h])"},
        {"datasource": PROMETHEUS, "refId": "B", "legendFormat": "failed {{server}}",
         "expr": "increase(tavrik_uploads_failed_total[1h])"},
        {"datasource": PROMETHEUS, "refId": "C", "legendFormat": "waiting {{server}}",
         "expr": "tavrik_upload_queue_entries"},
    ]
    up = panel(pid, "Uploads per hour", "series", uploads, 12, y, 12, 8,
               description="from the station's /metrics (Prometheus scraping WEB=)")
    up["fieldConfig"]["defaults"]["custom"] = {"drawStyle": "line", "spanNulls": True}
    panels.append(up)
    return {
        "__inputs": [
            {"name": "DS_INFLUXDB", "label": "InfluxDB (tavrik)", "type": "datasource", "pluginId": "influxdb",
             "pluginName": "InfluxDB"},
            {"name": "DS_PROMETHEUS", "label": "Prometheus", "type": "datasource", "pluginId": "prometheus",
             "pluginName": "Prometheus"},
        ],
        "title": "Tavrik ground station",
        "description": "The tavrik-decoder feed (INFLUX=): the window's four groups, limits as thresholds "
                       "(from the example limits file: regenerate with make_dashboard.py --limits), "
                       "frames per pass, and uploads from /metrics.",
        "uid": "tavrik-station",
        "tags": ["tavrik", "ham radio", "satellite"],
        "timezone": "utc",
        "schemaVersion": 37,
        "version": 1,
        "refresh": "30s",
        "time": {"from": "now-24h", "to": "now"},
        "templating": {"list": [{
            "name": "source", "label": "Station heard (source)", "type": "query", "datasource": INFLUX,
            "query": 'SHOW TAG VALUES FROM "tavrik" WITH KEY = "source"', "includeAll": True, "multi": True,
            "current": {"text": "All", "value": "$__all"}, "refresh": 2, "allValue": ".*"}]},
        "panels": panels,
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--limits", default=os.path.join(TOP, "data", "limits.example.conf"))
    ap.add_argument("--output", default=os.path.join(HERE, "tavrik.json"))
    args = ap.parse_args()
    with open(args.output, "w", encoding="utf-8") as out:
        json.dump(dashboard(read_limits(args.limits)), out, indent=2)
        out.write("\n")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
