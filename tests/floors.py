# The floors of src/, from the top down: a folder includes its own headers and those of the floors
# below it, never one above it or beside it. A frame goes down from the port to its handler and
# its reply goes on down to the port's seam, never back up.
#
# Usage: floors.py SRC_DIR
import os
import re
import sys

FLOORS = ["ui", "control", "serial", "link", "adapter sockets", "frame", "log", "wait", "front"]
FLOOR = {folder: n for n, folders in enumerate(FLOORS) for folder in folders.split()}

bad = []
for root, _, names in os.walk(sys.argv[1]):
    here = os.path.relpath(root, sys.argv[1]).split(os.sep)[0]
    for name in names if here != "." else []:
        for line in open(os.path.join(root, name), encoding="utf-8", errors="replace"):
            there = re.match(r'\s*#\s*include\s+"(\w+)/', line)
            if there and there[1] != here and not FLOOR.get(here, 99) < FLOOR.get(there[1], -1):
                bad.append("%s: %s" % (os.path.join(root, name), line.strip()))
print("\n".join(bad) or "every include goes down: " + " > ".join(FLOORS))
sys.exit(1 if bad else 0)
