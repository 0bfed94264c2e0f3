#!/usr/bin/env python3
"""The orbit against its oracles: SGP4 against python3-sgp4 on the near-Earth
cases of the standard verification set, and tavrik-sky's passes and look
angles against python3-skyfield (UT1 = UTC, no network) for a dozen low
orbits over a week. The worst differences are printed."""
import datetime
import json
import math
import os
import random
import subprocess
import sys
import tempfile
import unittest

try:
    import numpy
    from sgp4.api import Satrec, WGS72
    from skyfield.api import EarthSatellite, load, wgs84
except ImportError:
    # Debian's packages live in the system interpreter, which a pyenv shim may hide.
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3", *sys.argv])
    raise

BIN = os.environ.get("TAVRIK_BIN_DIR", "")
SKY = os.path.join(BIN, "tavrik-sky")
POINTS = os.path.join(BIN, "sky_sgp4_points")
VERIFICATION = os.path.join(os.path.dirname(__import__("sgp4").__file__), "SGP4-VER.TLE")
START = (2026, 12, 10)  # the synthetic sets' epoch day; the week searched starts then
STATIONS = [(12.5, -1.5, 300.0), (55.75, 37.62, 150.0)]
LIGHT_KM_S = 299792.458


def checksum(line):
    return line + str(sum(1 if c == "-" else int(c) if c.isdigit() else 0 for c in line) % 10)


def leo_set(catalogue, inclination, altitude_km, ecc, rng):
    """A two-line set for an orbit of that inclination and mean altitude, epoch
    2026-12-10 (day 344) at a fraction of a day that is not a whole millisecond."""
    a = 6378.135 + altitude_km
    revs = math.sqrt(398600.8 / a ** 3) * 86400 / (2 * math.pi)
    bstar = rng.uniform(1, 9) * 10 ** -rng.choice([4, 5])
    mantissa, exponent = f"{bstar:.4e}".split("e")
    drag = f" {int(float(mantissa) * 10000):05d}{int(exponent) + 1:+d}"
    l1 = f"1 {catalogue:05d}U 26001A   26344.{rng.randrange(10**8):08d}  .00001000  00000-0 {drag} 0  999"
    l2 = (f"2 {catalogue:05d} {inclination:8.4f} {rng.uniform(0, 360):8.4f} {round(ecc * 1e7):07d} "
          f"{rng.uniform(0, 360):8.4f} {rng.uniform(0, 360):8.4f} {revs:11.8f}{rng.randrange(99999):5d}")
    return f"SAT {catalogue}", checksum(l1), checksum(l2)


def sky(*args):
    r = subprocess.run([SKY, *args], capture_output=True, text=True, timeout=120)
    if r.returncode != 0:
        raise AssertionError(f"tavrik-sky {' '.join(args)}: {r.returncode} {r.stderr}")
    return json.loads(r.stdout)


def angle_diff(a, b):
    return abs((a - b + 180) % 360 - 180)


class Worst:
    """The largest difference of each quantity, and where it was."""

    def __init__(self):
        self.values = {}

    def add(self, name, value, where):
        if value > self.values.get(name, (-1, None))[0]:
            self.values[name] = (value, where)

    def report(self, title):
        print(f"\n{title}:", file=sys.stderr)
        for name, (value, where) in sorted(self.values.items()):
            print(f"  {name:24s} {value:.6g}  ({where})", file=sys.stderr)


class VerificationSet(unittest.TestCase):
    def test_near_earth_cases_match_the_reference(self):
        cases = []
        with open(VERIFICATION) as f:
            lines = f.read().splitlines()
        for i, line in enumerate(lines[:-1]):
            if line.startswith("1 ") and lines[i + 1].startswith("2 "):
                l1, l2 = line[:69], lines[i + 1][:69]
                start, stop, step = map(float, lines[i + 1][69:].split())
                sat = Satrec.twoline2rv(l1, l2, WGS72)
                if sat.method == "n":  # near Earth: the model decides by its own period
                    cases.append((l1, l2, start, stop, step, sat))
        self.assertGreaterEqual(len(cases), 9)
        requests, expected = [], []
        for k, (l1, l2, start, stop, step, sat) in enumerate(cases):
            count = int(round((stop - start) / step))
            times = [start + j * step for j in range(count + 1)]
            if times[-1] != stop:
                times.append(stop)
            for t in times:
                requests.append(f"{k} {t!r}")
                expected.append((l1[2:7], t) + sat.sgp4_tsince(t))
        with tempfile.NamedTemporaryFile("w", suffix=".tle") as f:
            f.write("".join(f"{c[0]}\n{c[1]}\n" for c in cases))
            f.flush()
            r = subprocess.run([POINTS, f.name], input="\n".join(requests) + "\n",
                               capture_output=True, text=True, timeout=60)
        self.assertEqual(r.stderr, "")  # every set of the file read
        answers = r.stdout.splitlines()
        self.assertEqual(len(answers), len(expected))
        worst = Worst()
        decayed = 0
        for (name, t, error, rr, vv), answer in zip(expected, answers):
            if error:  # the reference stops there (decay): so must we, with a reason
                self.assertTrue(answer.startswith("error ") and "decayed" in answer, (name, t, answer))
                decayed += 1
                continue
            self.assertFalse(answer.startswith("error"), (name, t, answer))
            x = [float(v) for v in answer.split()]
            worst.add("position m", math.dist(x[:3], rr) * 1000, f"{name} at {t} min")
            worst.add("velocity mm/s", math.dist(x[3:], vv) * 1e6, f"{name} at {t} min")
        worst.report(f"verification set: {len(cases)} near-Earth cases, {len(expected)} points, "
                     f"{decayed} past decay")
        self.assertLess(worst.values["position m"][0], 1.0)
        self.assertLess(worst.values["velocity mm/s"][0], 1.0)


class Skyfield(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        rng = random.Random(26)
        plan = [(0.0, 300), (0.1, 1200), (10, 500), (28.5, 400), (45, 800), (51.6, 420),
                (63.4, 650), (72, 1000), (82.5, 900), (90, 700), (97.4, 550), (98.7, 1190)]
        cls.sets = [leo_set(91001 + i, inc, alt, rng.uniform(0.0002, 0.004), rng)
                    for i, (inc, alt) in enumerate(plan)]
        cls.dir = tempfile.TemporaryDirectory()
        cls.tle = os.path.join(cls.dir.name, "leo.tle")
        with open(cls.tle, "w") as f:
            f.write("".join(f"{n}\n{l1}\n{l2}\n" for n, l1, l2 in cls.sets))
        # UT1 = UTC: Delta T is TT - UTC, the leap seconds of the week plus 32.184 s.
        builtin = load.timescale(builtin=True)
        cls.ts = load.timescale(builtin=True, delta_t=32.184 + cls.leap_seconds(builtin))

    @staticmethod
    def leap_seconds(ts):
        t = ts.utc(*START)
        days = (t.tai - 2440587.5) - (t.utc_datetime().timestamp() / 86400)
        return round(days * 86400)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_passes_and_look_angles_match_skyfield(self):
        ts = self.ts
        t0, t1 = ts.utc(*START), ts.utc(*START[:2], START[2] + 7)
        utc_jd = 2440587.5 + t0.utc_datetime().timestamp() / 86400
        self.assertLess(abs(t0.ut1 - utc_jd) * 86400, 1e-3)  # the oracle set as we are: UT1 = UTC
        worst = Worst()
        passes = grazing = looks = 0
        for lat, lon, alt in STATIONS:
            where = wgs84.latlon(lat, lon, elevation_m=alt)
            station = ["--lat", str(lat), "--lon", str(lon), "--alt", str(alt)]
            for name, l1, l2 in self.sets:
                sat = EarthSatellite(l1, l2, name, ts)
                ours = sky("passes", "--tle", self.tle, "--satellite", name, *station,
                           "--from", "2026-12-10T00:00:00Z", "--days", "7", "--format", "json")
                theirs = self.skyfield_passes(sat, where, t0, t1)
                # A pass that barely grazes the horizon may be seen by one and not the other.
                ours_real = [p for p in ours if p["max_elevation"] >= 0.1]
                theirs_real = [p for p in theirs if p["max_elevation"] >= 0.1]
                grazing += len(ours) - len(ours_real)
                self.assertEqual(len(ours_real), len(theirs_real), (name, lat))
                for a, b in zip(ours_real, theirs_real):
                    label = f"{name} at {lat}N, {a['aos']}"
                    passes += 1
                    for key, limit in (("aos", 1.0), ("los", 1.0), ("tca", 2.0)):
                        diff = abs(self.seconds(a[key]) - b[key])
                        worst.add(f"{key} s", diff, label)
                        self.assertLess(diff, limit, (label, key))
                    for key, limit in (("max_elevation", 0.05), ("aos_azimuth", 0.1), ("los_azimuth", 0.1)):
                        diff = angle_diff(a[key], b[key])
                        worst.add(f"{key} deg", diff, label)
                        self.assertLess(diff, limit, (label, key))
                # Any instant: a few at random, and the middle of each pass.
                rng = random.Random(l1)
                moments = [rng.uniform(0, 7 * 86400) for _ in range(3)]
                moments += [self.seconds(p["tca"]) - self.seconds("2026-12-10T00:00:00Z") + 17.25
                            for p in ours_real[:3]]
                for offset in moments:
                    looks += 1
                    self.compare_look(sat, where, station, name, offset, worst)
        worst.report(f"skyfield: {len(self.sets)} sets, {len(STATIONS)} stations, {passes} passes, "
                     f"{grazing} grazing passes set aside, {looks} instants")

    def compare_look(self, sat, where, station, name, offset, worst):
        ts = self.ts
        when = datetime.datetime(*START, tzinfo=datetime.timezone.utc) + \
            datetime.timedelta(milliseconds=round(offset * 1000))
        t = ts.from_datetime(when)
        iso = when.strftime("%Y-%m-%dT%H:%M:%S.") + f"{when.microsecond // 1000:03d}Z"
        ours = sky("at", "--tle", self.tle, "--satellite", name, *station, "--time", iso,
                   "--downlink-hz", "437e6", "--format", "json")[0]
        topo = (sat - where).at(t)
        el, az, dist, _, _, rate = topo.frame_latlon_and_rates(where)
        el, az = topo.altaz()[:2]
        geo = sat.at(t)
        lat, lon = wgs84.latlon_of(geo)
        label = f"{name} at {iso}"
        checks = [("elevation deg", angle_diff(ours["elevation"], el.degrees), 0.02),
                  ("range km", abs(ours["range_km"] - dist.km), 0.1),
                  ("range rate m/s", abs(ours["range_rate_km_s"] - rate.km_per_s) * 1000, 1.0),
                  ("latitude deg", abs(ours["latitude"] - lat.degrees), 0.01),
                  ("longitude deg", angle_diff(ours["longitude"], lon.degrees), 0.01),
                  ("altitude km", abs(ours["altitude_km"] - wgs84.height_of(geo).km), 0.1),
                  ("doppler Hz", abs(ours["doppler_hz"] + 437e6 * rate.km_per_s / LIGHT_KM_S), 1.5)]
        if el.degrees < 89:  # the azimuth of the zenith is any
            checks.append(("azimuth deg", angle_diff(ours["azimuth"], az.degrees), 0.02))
        for key, diff, limit in checks:
            worst.add(key, diff, label)
            self.assertLess(diff, limit, (label, key))

    def seconds(self, iso):
        return self.ts.utc(int(iso[:4]), int(iso[5:7]), int(iso[8:10]), int(iso[11:13]),
                           int(iso[14:16]), float(iso[17:-1])).tt * 86400

    def skyfield_passes(self, sat, where, t0, t1):
        """Skyfield's passes with LOS after t0 and AOS before t1, whole: searched an
        hour either side, the events refined to half a millisecond by bisection
        (all of a satellite's at once: skyfield takes arrays of times)."""
        ts = self.ts
        times, events = sat.find_events(where, ts.tt_jd(t0.tt - 1 / 24), ts.tt_jd(t1.tt + 1 / 24), 0.0)
        look = lambda jd: (sat - where).at(ts.tt_jd(jd)).altaz()
        elevation = lambda jd: look(jd)[0].degrees
        found, current = [], None
        for t, e in zip(times.tt, events):
            if e == 0:
                current = [t, []]
            elif e == 1 and current is not None:
                current[1].append(t)
            elif e == 2 and current is not None:
                tops = current[1] or [(current[0] + t) / 2]
                found.append((current[0], max(tops, key=elevation) if len(tops) > 1 else tops[0], t))
                current = None
        if not found:
            return []
        aos, tca, los = (numpy.array(column) for column in zip(*found))

        def refine(jd, rising):
            # find_events' own answer may be a second or more off over a long search.
            lo, hi, todo = jd.copy(), jd.copy(), numpy.ones(len(jd), bool)
            for width in (2, 10, 30):
                a, b = jd - width / 86400, jd + width / 86400
                ok = todo & ((elevation(a) >= 0) != rising) & ((elevation(b) >= 0) == rising)
                lo[ok], hi[ok], todo = a[ok], b[ok], todo & ~ok
            while (hi - lo).max() > 0.0005 / 86400:
                mid = (lo + hi) / 2
                after = (elevation(mid) >= 0) == rising
                hi, lo = numpy.where(after, mid, hi), numpy.where(after, lo, mid)
            return (lo + hi) / 2

        def culmination(jd):
            # Where the elevation stops rising, by the sign of its slope over 2 ms.
            lo, hi = jd - 3 / 86400, jd + 3 / 86400
            while (hi - lo).max() > 0.0005 / 86400:
                mid = (lo + hi) / 2
                rising = elevation(mid + 0.001 / 86400) > elevation(mid - 0.001 / 86400)
                lo, hi = numpy.where(rising, mid, lo), numpy.where(rising, hi, mid)
            return (lo + hi) / 2

        aos, los, tca = refine(aos, True), refine(los, False), culmination(tca)
        top, start, end = elevation(tca), look(aos)[1].degrees, look(los)[1].degrees
        return [{"aos": aos[i] * 86400, "los": los[i] * 86400, "tca": tca[i] * 86400,
                 "max_elevation": top[i], "aos_azimuth": start[i], "los_azimuth": end[i]}
                for i in range(len(aos)) if los[i] > t0.tt and aos[i] < t1.tt]

class Command(unittest.TestCase):
    """tavrik-sky's refusals: one line each, and the exit status of tavrik-decode."""

    def test_bad_input_gets_one_line_and_its_status(self):
        rng = random.Random(5)
        name, l1, l2 = leo_set(92001, 51.6, 420, 0.001, rng)
        geo = leo_set(92002, 0.1, 35786, 0.0002, rng)
        bad = l1[:68] + str((int(l1[68]) + 1) % 10)
        station = ["--lat", "50", "--lon", "10"]
        with tempfile.TemporaryDirectory() as d:
            def run(text, *args):
                path = os.path.join(d, "sets.tle")
                with open(path, "w") as f:
                    f.write(text)
                return subprocess.run([SKY, *args[:1], "--tle", path, *args[1:]], capture_output=True,
                                      text=True, timeout=60)
            good = f"{name}\n{l1}\n{l2}\n"
            r = run(good + f"{name}\n{bad}\n{l2}\n", "passes", *station, "--from", "2026-12-10",
                    "--format", "csv")
            self.assertEqual(r.returncode, 1)
            self.assertEqual(r.stderr, f"tavrik-sky: {d}/sets.tle: line 5: bad checksum: column 69 "
                                       f"says {bad[68]}, the line's digits give {l1[68]}\n")
            self.assertEqual(r.stdout.splitlines()[0], "aos,aos_azimuth,tca,max_elevation,los,"
                                                       "los_azimuth,duration_s")
            self.assertGreater(len(r.stdout.splitlines()), 3)
            r = run("\n".join(geo) + "\n", "passes", *station)
            self.assertEqual((r.returncode, r.stdout), (2, ""))
            self.assertRegex(r.stderr, r"^tavrik-sky: .*: element set SAT 92002 \(line 2\): a deep-space "
                                       r"orbit \(period 143\d minutes, 225 or more\)[^\n]*\n$")
            for args, message in ((["--lat", "91", "--lon", "0"], "--lat 91 is beyond ±90 degrees"),
                                  ([*station, "--satellite", "12345"], "no element set for 12345"),
                                  ([*station, "--time", "now"], "--time and --downlink-hz belong to at")):
                r = run(good, "passes", *args)
                self.assertEqual((r.returncode, r.stdout), (2, ""))
                self.assertIn(message, r.stderr.splitlines()[0])


if __name__ == "__main__":
    unittest.main(verbosity=2, argv=sys.argv[:1])
