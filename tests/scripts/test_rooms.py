#!/usr/bin/env python3
"""The house keeps its floors: a file under src/ or tools/ includes headers of
its own room and of the rooms its room links (directly or through them), never
of a room above or beside it, and names no class of such a room as a template
parameter or argument (a dependency no include shows). The rooms and their
links come from the table the build writes (src/CMakeLists.txt, tavrik_room
and tavrik_tool)."""
import os
import re
import sys
import tempfile
import unittest

SOURCE_DIR = os.environ.get("TAVRIK_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", "..")
TABLE = os.environ.get("TAVRIK_ROOMS_TABLE", "")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
# A class or struct defined (not only declared) in a header.
DEFINED = re.compile(r'^\s*(?:class|struct)\s+(?:\[\[[^\]]*\]\]\s*)?([A-Z]\w*)\b[^;{]*\{', re.M)
# template <class Name, typename Other = ...>: the parameters' names.
TEMPLATE = re.compile(r'\btemplate\s*<([^<>]*)>')
PARAMETER = re.compile(r'\b(?:class|typename)\s+([A-Z]\w*)')
# Name<Argument, ...>: the arguments of a template used.
ARGUMENTS = re.compile(r'\b(?!template\b)\w+\s*<([^<>;{}]*)>')
NAME = re.compile(r'\b([A-Z]\w*)\b')


def read_table(path):
    """{name: (folder, [direct links])} from lines "room|tool <name> <folder> <links>..."."""
    rooms = {}
    with open(path) as f:
        for line in f:
            words = line.split()
            if len(words) >= 3:
                rooms[words[1]] = (words[2], words[3:])
    return rooms


def below(rooms, name):
    """The rooms name may include: its own and every room it links, transitively."""
    seen, todo = {name}, list(rooms[name][1])
    while todo:
        room = todo.pop()
        if room not in seen:
            seen.add(room)
            todo.extend(rooms.get(room, ("", []))[1])
    return seen


def owner(rooms, path):
    """The room (or tool) whose folder holds path: the longest folder that does."""
    best = None
    for name, (folder, _) in rooms.items():
        if path == folder or path.startswith(folder + "/"):
            if best is None or len(folder) > len(rooms[best][0]):
                best = name
    return best


def sources(root):
    for top in ("src", "tools"):
        for folder, _, files in os.walk(os.path.join(root, top)):
            for file in sorted(files):
                if file.endswith((".h", ".cpp")):
                    yield os.path.relpath(os.path.join(folder, file), root).replace(os.sep, "/")


def code(text):
    """The text without comments and string literals, so that words in them count for nothing."""
    return re.sub(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"', " ", text, flags=re.S)


def class_rooms(root, rooms):
    """{class name: {rooms whose headers define it}}."""
    homes = {}
    for path in sources(root):
        home = owner(rooms, path)
        if home is None or not path.endswith(".h"):
            continue
        with open(os.path.join(root, path), encoding="latin-1") as f:
            for name in DEFINED.findall(code(f.read())):
                homes.setdefault(name, set()).add(home)
    return homes


def template_violations(root, rooms):
    """Template parameters and arguments that name a class only a room above defines."""
    homes = class_rooms(root, rooms)
    found = []
    for path in sources(root):
        home = owner(rooms, path)
        if home is None:
            continue
        allowed = below(rooms, home)
        with open(os.path.join(root, path), encoding="latin-1") as f:
            text = code(f.read())
        for pattern, what in ((TEMPLATE, "template parameter"), (ARGUMENTS, "template argument")):
            for match in pattern.finditer(text):
                names = PARAMETER.findall(match.group(1)) if pattern is TEMPLATE \
                    else NAME.findall(match.group(1))
                for name in names:
                    where = homes.get(name, set())
                    if where and not where & allowed:
                        line = text.count("\n", 0, match.start()) + 1
                        found.append(f"{path}:{line}: {what} {name} is a class of room "
                                     f"{', '.join(sorted(where))}, which is not below {home}")
    return found


def violations(root, rooms):
    found = []
    for top in ("src", "tools"):
        for folder, _, files in os.walk(os.path.join(root, top)):
            for file in sorted(files):
                if not file.endswith((".h", ".cpp")):
                    continue
                path = os.path.relpath(os.path.join(folder, file), root).replace(os.sep, "/")
                home = owner(rooms, path)
                if home is None:
                    found.append(f"{path}: belongs to no room (declare it in src/CMakeLists.txt)")
                    continue
                allowed = below(rooms, home)
                with open(os.path.join(root, path), encoding="latin-1") as f:
                    text = f.read()
                for match in INCLUDE.finditer(text):
                    header = match.group(1)
                    room = owner(rooms, "src/" + header)
                    if room is not None and room not in allowed:
                        line = text.count("\n", 0, match.start()) + 1
                        found.append(f"{path}:{line}: includes {header} of room {room}, which is "
                                     f"not below {home} (it may include: {', '.join(sorted(allowed))})")
    return found


class Rooms(unittest.TestCase):
    def test_every_include_goes_down(self):
        self.assertTrue(TABLE and os.path.exists(TABLE), "no room table; run from the build (ctest)")
        found = violations(SOURCE_DIR, read_table(TABLE))
        if found:
            self.fail("includes that do not go down:\n" + "\n".join(found))

    def test_no_template_names_a_class_above(self):
        self.assertTrue(TABLE and os.path.exists(TABLE), "no room table; run from the build (ctest)")
        found = template_violations(SOURCE_DIR, read_table(TABLE))
        if found:
            self.fail("template dependencies that do not go down:\n" + "\n".join(found))

    def test_upward_template_parameters_and_arguments_are_caught(self):
        with tempfile.TemporaryDirectory() as root:
            table = os.path.join(root, "rooms.txt")
            with open(table, "w") as f:
                f.write("room time src/time\nroom web src/web time\nroom app src/app web\n")
            sources = {
                "src/app/EventLog.h": "class EventLog {\n  int n;\n};\n",
                "src/time/Clock.h": "struct Clock {\n};\n",
                # A parameter named after the window's class, and a use of it, one floor down.
                "src/web/Page.h": "template <class EventLog>\nvoid Take(EventLog& log);\n"
                                  "// template <class EventLog> in a comment is nothing\n"
                                  "std::vector<Clock> clocks;\nstd::function<void(EventLog&)> f;\n"
                                  "std::unique_ptr<EventLog> kept;\n",
                "src/app/Form.h": "std::unique_ptr<EventLog> log;\ntemplate <typename Clock> int x;\n",
            }
            for path, text in sources.items():
                os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
                with open(os.path.join(root, path), "w") as f:
                    f.write(text)
            found = [v.split(", which")[0] for v in template_violations(root, read_table(table))]
        self.assertEqual(found, [
            "src/web/Page.h:1: template parameter EventLog is a class of room app",
            "src/web/Page.h:5: template argument EventLog is a class of room app",
            "src/web/Page.h:6: template argument EventLog is a class of room app",
        ])

    def test_upward_sideways_and_homeless_files_are_caught(self):
        with tempfile.TemporaryDirectory() as root:
            table = os.path.join(root, "rooms.txt")
            with open(table, "w") as f:
                f.write("room time src/time\nroom sky src/sky time\nroom files src/files time\n"
                        "room upload src/upload files\nroom station src/station upload sky\n"
                        "room intake src/intake files\nroom files_qt src/files/qt files\n"
                        "tool decode tools/decode files\n")
            sources = {
                "src/upload/Body.cpp": '#include "upload/Body.h"\n#include "time/Clock.h"\n',
                "src/intake/Link.cpp": '#include "files/Kiss.h"\n#include "upload/Body.h"\n',
                "src/files/Kiss.cpp": '#include <vector>\n#include "files/qt/Text.h"\n',
                "src/files/qt/Text.cpp": '#include "files/Kiss.h"\n',
                "src/stray/Lost.cpp": "",
                "src/sky/Orbit.cpp": '#include "time/Clock.h"\n#include "files/Kiss.h"\n',
                "src/station/Pass.cpp": '#include "sky/Orbit.h"\n#include "upload/Body.h"\n',
                "tools/decode/main.cpp": '#include "Local.h"\n#include "intake/Link.h"\n',
            }
            for path, text in sources.items():
                os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
                with open(os.path.join(root, path), "w") as f:
                    f.write(text)
            found = [v.split(" (")[0] for v in violations(root, read_table(table))]
        self.assertEqual(sorted(found), [
            "src/files/Kiss.cpp:2: includes files/qt/Text.h of room files_qt, which is not below files",
            "src/intake/Link.cpp:2: includes upload/Body.h of room upload, which is not below intake",
            "src/sky/Orbit.cpp:2: includes files/Kiss.h of room files, which is not below sky",
            "src/stray/Lost.cpp: belongs to no room",
            "tools/decode/main.cpp:2: includes intake/Link.h of room intake, which is not below decode",
        ])


if __name__ == "__main__":
    unittest.main(verbosity=2, argv=sys.argv[:1])
