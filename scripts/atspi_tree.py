#!/usr/bin/python3
# Prints the widget tree of a running program as assistive tools (AT-SPI) see
# it: role, name, description, and the text of text boxes; then the number of
# radio buttons. Needs Debian's python3-pyatspi; run on the program's session bus.
#   atspi_tree.py NAME   (NAME: the start of the program's name)
import sys

import pyatspi


def walk(acc, depth, out):
    role = acc.getRoleName()
    line = "  " * depth + f"{role}: {acc.name or ''!r}"
    if acc.description:
        line += f" ({acc.description!r})"
    if role == "text":
        text = acc.queryText()
        line += " text=" + repr(text.getText(0, min(text.characterCount, 200)))
    out.append((role, line))
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            walk(child, depth + 1, out)


def main():
    desktop = pyatspi.Registry.getDesktop(0)
    apps = [a for a in desktop if a is not None]
    app = next((a for a in apps if a.name.startswith(sys.argv[1])), None)
    if app is None:
        print("no such program on the bus; there are:", [a.name for a in apps])
        return 1
    out = []
    walk(app, 0, out)
    for _, line in out:
        print(line)
    print("radio buttons:", sum(1 for role, _ in out if role == "radio button"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
