#!/usr/bin/env python3
"""Holds scripts/install-deps.sh to what the build and the tests really use.

A machine that already has a package hides its absence from the lists: the
build and the tests pass here and fail on a fresh machine. So this looks at
what they use, not at what is installed:

- it configures the build as the start command does and as the test command
  does, each in a temporary folder, with CMake's trace of every file it reads,
  and takes every file under /usr that CMake read or found (package
  configuration files, Find modules, libraries, headers, compilers, programs);
- it takes the programs the tests and the start command run (the commands of
  every CTest test, the program names the tests and scripts use) and the Python
  modules the test scripts import, as Debian's own PATH and python3 find them;
- it maps each to its Debian package (dpkg -S) and fails, naming the package and
  what needed it, when that package is neither in install-deps' list nor pulled
  in by a listed package's dependencies (apt-cache depends --recurse), nor part
  of every Debian system (Essential or Priority required).

The start command's needs must come from the base list alone (installed without
recommended packages); the test command's from both lists.

    scripts/check-deps.py                  check (exit 1 and the reasons on a gap)
    scripts/check-deps.py --without PKG    as if PKG were not listed (shows a gap is found)
"""
import argparse
import concurrent.futures
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Where a fresh Debian machine finds programs (its /usr/local is empty; no ~/.local, no pyenv).
DEBIAN_PATH = "/usr/sbin:/usr/bin:/sbin:/bin"
SYSTEM_ROOTS = ("/usr/", "/bin/", "/sbin/", "/lib/", "/lib64/", "/opt/", "/etc/")
# Programs the tests run by name (some only on a later branch): each must resolve
# on this machine and come from a listed package.
KNOWN_TEST_PROGRAMS = ["direwolf", "influxd", "influx", "promtool", "chromium", "xdotool",
                       "xclip", "Xvfb", "unshare", "ip", "openssl", "sqlite3", "clang++",
                       "rigctld", "rotctld", "dbus-daemon", "convert"]
# Quoted words of the tests that are values, never run, yet name a program on
# PATH: "red" is a limit level (and ed's restricted mode, /usr/bin/red).
QUOTED_VALUES = {"red"}
KNOWN_START_PROGRAMS = ["cmake", "ninja", "Xvfb"]
# Files CMake reads or finds only when they happen to be there; the build works
# without them (each with the reason).
READ_WHEN_PRESENT = {
    r"/cmake/GTest/GMockTargets": "GTestConfig.cmake includes it OPTIONAL; the tests use no GMock",
    r"/libEGL\.so$|/EGL/egl\.h$|/libGLU\.so$|/GL/glu\.h$|/include/EGL$":
        "CMake's FindOpenGL looks for EGL and GLU as well; Qt links neither",
}
NAME = re.compile(r"^[A-Za-z][A-Za-z0-9_.+-]*$")


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)


def listed(with_tests, without):
    """install-deps' lists: the arrays base=( ) and tests=( ) (one packages=( ) in older trees)."""
    text = open(os.path.join(TOP, "scripts/install-deps.sh")).read()
    arrays = {m.group(1): re.sub(r"#[^\n]*", "", m.group(2)).split()
              for m in re.finditer(r"^([a-z_]+)=\(([^)]*)\)", text, re.M)}
    names = arrays.get("base", arrays.get("packages", []))
    if with_tests:
        names = names + arrays.get("tests", [])
    return [p for p in names if p not in without]


_installed = None


def installed():
    """{package: (depends, recommends, provides)} of the installed packages, from dpkg's database."""
    global _installed
    if _installed is None:
        fmt = "${Package}\t${Status}\t${Essential}\t${Priority}\t${Pre-Depends}, ${Depends}\t${Recommends}\t${Provides}\n"
        _installed = {}
        for line in run(["dpkg-query", "-W", "-f", fmt]).stdout.splitlines():
            name, status, essential, priority, deps, recs, provides = (line.split("\t") + [""] * 7)[:7]
            if not status.endswith(" installed"):
                continue
            entry = _installed.setdefault(name, {"deps": set(), "recs": set(), "given": False})
            entry["deps"] |= set(_names(deps))
            entry["recs"] |= set(_names(recs))
            entry["given"] |= essential == "yes" or priority == "required"
            for virtual in _names(provides):
                _installed.setdefault("provides:" + virtual, {"deps": set(), "recs": set(), "given": False})[
                    "deps"].add(name)
    return _installed


def _names(field):
    """Package names of a Depends-like field, every alternative of "a | b", without versions and arches."""
    return [re.split(r"[\s(:]", alt.strip())[0] for alt in re.split(r"[,|]", field) if alt.strip()]


def closure(packages, recommends):
    """The installed packages that the given ones pull in (Depends, Pre-Depends, and Recommends
    when asked; every installed alternative; virtual packages through their providers)."""
    db = installed()
    seen = set()
    todo = list(packages)
    while todo:
        name = todo.pop()
        if name in seen:
            continue
        seen.add(name)
        for key in (name, "provides:" + name):
            entry = db.get(key)
            if entry:
                todo += list(entry["deps"]) + (list(entry["recs"]) if recommends else [])
    return {n for n in seen if n in db} | set(packages)


def everywhere():
    """Packages every Debian system has: Essential ones and Priority required."""
    return closure([n for n, e in installed().items() if e["given"]], recommends=False)


def owners(paths):
    """{path: package} for the paths some installed package holds."""
    found = {}
    todo = sorted(set(paths))
    for i in range(0, len(todo), 200):
        chunk = todo[i:i + 200]
        out = run(["dpkg", "-S"] + chunk).stdout
        for line in out.splitlines():
            if line.startswith("diversion "):
                continue
            pkgs, _, path = line.partition(": ")
            if path in chunk and path not in found:
                found[path] = pkgs.split(",")[0].strip().split(":")[0]
    return found


def owner_of_each(paths):
    """Maps each path, through symbolic links and the merged /usr, to its package."""
    candidates = {}
    for p in paths:
        real = os.path.realpath(p)
        forms = [p, real]
        for f in (p, real):
            if f.startswith("/usr/"):
                forms.append(f[4:])  # /usr/lib/x → /lib/x (packages that still ship there)
            elif f.startswith(("/lib/", "/bin/", "/sbin/")):
                forms.append("/usr" + f)
        candidates[p] = forms
    found = owners([f for forms in candidates.values() for f in forms])
    return {p: next((found[f] for f in forms if f in found), None) for p, forms in candidates.items()}


def configure(folder, options):
    """Configures the build in folder; returns the files under the system folders it used."""
    os.makedirs(folder, exist_ok=True)
    trace = os.path.join(folder, "trace.json")
    r = run(["cmake", "-S", TOP, "-B", folder, "-G", "Ninja", "--trace-expand", "--trace-format=json-v1",
             "--trace-redirect=" + trace] + options, env=dict(os.environ, PATH=DEBIAN_PATH))
    used = set()
    if os.path.exists(trace):
        with open(trace, encoding="utf-8", errors="replace") as f:
            for m in re.finditer(r'"file"\s*:\s*"([^"]+)"', f.read()):
                used.add(m.group(1))
    cache = os.path.join(folder, "CMakeCache.txt")
    if os.path.exists(cache):
        for line in open(cache, encoding="utf-8", errors="replace"):
            m = re.match(r"^[A-Za-z0-9_]+:(FILEPATH|STRING|PATH|INTERNAL)=(/.+)$", line.strip())
            if m:
                for value in m.group(2).split(";"):
                    if os.path.isfile(value):
                        used.add(value)
    used = {u for u in used if u.startswith(SYSTEM_ROOTS)
            and not any(re.search(rx, u) for rx in READ_WHEN_PRESENT)}
    return r, used


def ctest_programs(folder):
    """The programs the configured CTest tests start (first word, and the words of sh -c texts)."""
    names = set()
    for testfile in glob.glob(os.path.join(folder, "**", "CTestTestfile.cmake"), recursive=True):
        for m in re.finditer(r"^add_test\((\[=\[.*?\]=\]|\S+)\s+(.*)\)$", open(testfile).read(), re.M):
            words = re.findall(r'"((?:[^"\\]|\\.)*)"', m.group(2))
            if not words:
                continue
            names.add(words[0])
            if os.path.basename(words[0]) in ("sh", "bash") and "-c" in words:
                text = words[words.index("-c") + 1]
                names.update(w for w in re.split(r"[\s;&|()]+", text) if NAME.match(w))
    return names


def quoted_names(files):
    names = set()
    for path in files:
        try:
            text = open(path, encoding="utf-8", errors="replace").read()
        except OSError:
            continue
        names.update(w for w in re.findall(r"[\"']([A-Za-z][A-Za-z0-9_.+-]*)[\"']", text))
    return names - QUOTED_VALUES


SHELL_PREFIXES = {"if", "then", "else", "elif", "do", "while", "until", "exec", "time", "!", "nohup",
                  "env", "sudo", "command", "timeout", "xargs", "{", "}"}


def shell_words(files):
    """The commands of shell scripts: the first word of every pipeline stage."""
    names = set()
    for path in files:
        for line in open(path, encoding="utf-8", errors="replace"):
            line = line.split(" #", 1)[0] if not line.lstrip().startswith("#") else ""
            line = re.sub(r"'[^']*'|\"[^\"$]*\"", " ", line)  # texts, not commands
            for stage in re.split(r"\$\(|[;|&(`]+", line):
                for word in stage.split():
                    if "=" in word or word in SHELL_PREFIXES or re.match(r"^-|^[0-9]", word):
                        continue  # assignments, keywords, the options and figures of timeout
                    if NAME.match(word) or word.startswith("/"):
                        names.add(word)
                    break
    return names


def python_imports(files):
    names = set()
    for path in files:
        for m in re.finditer(r"^\s*(?:from|import)\s+([A-Za-z_][A-Za-z0-9_]*)", open(path).read(), re.M):
            names.add(m.group(1))
    return names


def resolve_programs(names):
    builtins = set(run(["bash", "-c", "compgen -b; compgen -k"]).stdout.split())
    found = {}
    for name in names:
        if name in builtins:
            continue
        where = name if name.startswith("/") else shutil.which(name, path=DEBIAN_PATH)
        if where and where.startswith(SYSTEM_ROOTS) and os.access(where, os.X_OK):
            found[name] = where
    return found


def resolve_modules(names):
    """Module files of Debian's python3 for the imported top-level names (standard library included)."""
    if not os.path.exists("/usr/bin/python3"):
        return {}
    code = ("import importlib.util, json, sys\nout = {}\nfor n in sys.argv[1:]:\n"
            "    try:\n        s = importlib.util.find_spec(n)\n    except Exception:\n        s = None\n"
            "    if s and s.origin and s.origin.startswith('/'):\n        out[n] = s.origin\n"
            "print(json.dumps(out))")
    r = run(["/usr/bin/python3", "-I", "-c", code] + sorted(names))
    return json.loads(r.stdout or "{}")


def main():
    ap = argparse.ArgumentParser(description="checks scripts/install-deps.sh against what is used")
    ap.add_argument("--without", action="append", default=[], metavar="PKG",
                    help="check as if PKG were not in install-deps' lists")
    ap.add_argument("--start-only", action="store_true",
                    help="check only what building and starting use (a quicker look)")
    args = ap.parse_args()

    base_list = listed(False, args.without)
    all_list = listed(True, args.without)
    given = everywhere() - set(args.without)
    allowed = {
        "start": closure(base_list, recommends=False) | given,
        "tests": closure(all_list, recommends=True) | closure(base_list, recommends=False) | given,
    }
    needs = {"start": {}, "tests": {}}  # path → why

    with tempfile.TemporaryDirectory(prefix="tavrik-check-deps-") as tmp:
        kinds = [("start", ["-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DTAVRIK_TESTS=OFF"])]
        if not args.start_only:
            kinds.append(("tests", ["-DCMAKE_BUILD_TYPE=Debug", "-DTAVRIK_SANITIZE=ON",
                                    "-DTAVRIK_TESTS=ON", "-DTAVRIK_BENCH=ON"]))
        # Both configured at once: the check runs first in the test command.
        with concurrent.futures.ThreadPoolExecutor() as pool:
            done = list(pool.map(lambda k: configure(os.path.join(tmp, k[0]), k[1]), kinds))
        test_names = set()
        for (kind, _), (r, used) in zip(kinds, done):
            folder = os.path.join(tmp, kind)
            for path in used:
                needs[kind][path] = "the build read or found it"
            if r.returncode != 0:
                # A package missing on this machine shows as a failed configure.
                print("check-deps: configuring as the %s command does failed:\n%s" % (kind, r.stderr[-3000:]))
                return 1
            if kind == "tests":
                test_names = ctest_programs(folder)

    source_files = [f for f in glob.glob(os.path.join(TOP, "tests", "**", "*"), recursive=True)
                    if os.path.isfile(f) and f.endswith((".py", ".cpp", ".h", ".sh", ".txt", ".cmake"))]
    scripts_for_tests = [os.path.join(TOP, "scripts", s) for s in ("test.sh", "fuzz.sh", "soak.sh", "bench.sh")]
    scripts_for_tests = [s for s in scripts_for_tests if os.path.exists(s)]
    if args.start_only:
        test_names = set()
    else:
        test_names |= quoted_names(source_files) | shell_words(scripts_for_tests) | set(KNOWN_TEST_PROGRAMS)
    start_names = shell_words([os.path.join(TOP, "scripts/start.sh")]) | set(KNOWN_START_PROGRAMS)

    missing_programs = []
    for kind, names, known in (("start", start_names, KNOWN_START_PROGRAMS),
                               ("tests", test_names, KNOWN_TEST_PROGRAMS)):
        if kind == "tests" and args.start_only:
            continue
        found = resolve_programs(names)
        missing_programs += ["%s (the %s command runs it)" % (n, kind) for n in known if n not in found]
        for name, path in found.items():
            needs[kind].setdefault(path, "runs the program %s" % name)
    py_files = [f for f in source_files if f.endswith(".py")] + \
        glob.glob(os.path.join(TOP, "bench", "*.py"))
    for name, path in resolve_modules(python_imports(py_files) if not args.start_only else []).items():
        needs["tests"].setdefault(path, "the test scripts import %s" % name)

    faults = []
    for kind in ("start", "tests"):
        if not needs[kind]:
            continue
        owner = owner_of_each(needs[kind])
        gaps = {}
        for path, why in sorted(needs[kind].items()):
            pkg = owner[path]
            if pkg is None:
                if not path.startswith("/etc/"):
                    gaps.setdefault("(no Debian package)", []).append("%s: %s" % (path, why))
            elif pkg not in allowed[kind]:
                gaps.setdefault(pkg, []).append("%s: %s" % (path, why))
        which = "base list" if kind == "start" else "test list (or the base list)"
        for pkg, reasons in sorted(gaps.items()):
            faults.append("%s is needed by the %s command but not in install-deps' %s, nor pulled in by "
                          "a package there:\n    %s%s" % (pkg, kind, which, "\n    ".join(reasons[:3]),
                                                         "\n    ..." if len(reasons) > 3 else ""))
    for m in missing_programs:
        faults.append("program not found on Debian's PATH: %s" % m)
    for f in faults:
        print("check-deps: " + f)
    if faults:
        return 1
    print("check-deps: the build and the tests use only packages install-deps lists or pulls in "
          "(%d files and programs checked)" % (len(needs["start"]) + len(needs["tests"])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
