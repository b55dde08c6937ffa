# The floors of src/, from the top down: a folder includes its own headers and those of the floors
# below it, never one above it or beside it. A frame goes down from the port to its handler and
# its reply goes on down to the port's seam, never back up. Inside ui/, each program's folder
# (gtk/, win32/, headless/) includes none of the others'.
#
# Usage: floors.py SRC_DIR

import os
import re
import sys

FLOORS = ["ui", "control", "serial", "link", "adapter sockets", "frame", "log", "line", "net", "wait",
          "front"]
FLOOR = {folder: n for n, folders in enumerate(FLOORS) for folder in folders.split()}
PROGRAMS = {"gtk", "win32", "headless"}

bad = []
for root, _, names in os.walk(sys.argv[1]):
    where = os.path.relpath(root, sys.argv[1]).split(os.sep)
    for name in names if where[0] != "." else []:
        for line in open(os.path.join(root, name), encoding="utf-8", errors="replace"):
            there = re.match(r'\s*#\s*include\s+"(\w+)/(?:(\w+)/)?', line)
            if not there:
                continue
            down = there[1] != where[0] and FLOOR.get(where[0], 99) < FLOOR.get(there[1], -1)
            program = there[2] if there[1] == "ui" and there[2] in PROGRAMS else None
            beside = program is not None and program != (where + [None])[1]
            if not (down or there[1] == where[0]) or beside:
                bad.append("%s: %s" % (os.path.join(root, name), line.strip()))
print("\n".join(bad) or "every include goes down: " + " > ".join(FLOORS) +
      "; no program's folder of ui/ includes another's")
sys.exit(1 if bad else 0)
