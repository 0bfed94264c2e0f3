#!/usr/bin/env python3
"""The house keeps its floors: a file under src/ or tools/ includes headers of
its own room and of the rooms its room links (directly or through them), never
of a room above or beside it. The rooms and their links come from the table the
build writes (src/CMakeLists.txt, tavrik_room and tavrik_tool)."""
import os
import re
import sys
import tempfile
import unittest

SOURCE_DIR = os.environ.get("TAVRIK_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", "..")
TABLE = os.environ.get("TAVRIK_ROOMS_TABLE", "")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


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
