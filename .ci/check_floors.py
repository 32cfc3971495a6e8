#!/usr/bin/env python3
"""The tree's floors, bottom up: a file includes only its own floor and the
floors below it, and no source file of the product grows past 600 lines.
Prints each offence and exits 1 when there is any."""
import os
import re
import sys

FLOORS = ["core", "net", "engine", "app", "ui", "launcher", "tools"]
MAX_LINES = 600
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/')


def floor_of(path):
    top = path.split("/", 1)[0]
    return FLOORS.index(top) if top in FLOORS else None


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    offences = []
    for top in FLOORS:
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in files:
                if not name.endswith((".cpp", ".h", ".inc")):
                    continue
                full = os.path.join(folder, name)
                relative = os.path.relpath(full, root).replace(os.sep, "/")
                own = floor_of(relative)
                with open(full, encoding="utf-8", errors="replace") as source:
                    lines = source.readlines()
                if name.endswith(".cpp") and len(lines) > MAX_LINES:
                    offences.append(f"{relative}: {len(lines)} lines (at most {MAX_LINES})")
                for number, line in enumerate(lines, 1):
                    match = INCLUDE.match(line)
                    if not match or match.group(1) not in FLOORS:
                        continue
                    if FLOORS.index(match.group(1)) > own:
                        offences.append(f"{relative}:{number}: includes {match.group(1)}/, a floor above "
                                        f"{FLOORS[own]}/")
    for offence in offences:
        print(offence)
    print(f"floors: {len(offences)} offence(s)" if offences else "floors: every include goes down or level")
    return 1 if offences else 0


if __name__ == "__main__":
    sys.exit(main())
