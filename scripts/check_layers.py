"""Fails the build when a source file includes a header of a folder not listed below its own.

The folders, from the bottom up: each may include its own headers and those of the folders
listed for it, and nothing else of the project. The update engine's subsystems stand apart
from its windows: only app/ includes app/; framework/ and common/ include no subsystem."""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BELOW = {
    "framework": [],
    "common": ["framework"],
    "release": ["framework"],
    "unzip32": ["framework"],
    "transfer": ["framework", "common", "release"],
    "discovery": ["framework", "common", "release", "transfer"],
    "extract": ["framework", "common", "release", "transfer", "discovery", "unzip32"],
    "backup": ["framework", "common", "release", "transfer", "discovery", "extract"],
    "app": ["framework", "common", "release", "transfer", "discovery", "extract", "backup", "unzip32"],
    "publish": ["framework", "common", "release", "transfer", "discovery", "unzip32"],
}


def main():
    owner = {}  # header name -> folder
    for folder in BELOW:
        for name in os.listdir(os.path.join(ROOT, folder)):
            if name.endswith(".h"):
                owner[name] = folder
    faults = []
    for folder, below in BELOW.items():
        for name in sorted(os.listdir(os.path.join(ROOT, folder))):
            if not name.endswith((".h", ".cpp")):
                continue
            with open(os.path.join(ROOT, folder, name), encoding="utf-8") as source:
                for number, line in enumerate(source, 1):
                    match = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
                    header = match and os.path.basename(match.group(1))
                    if header in owner and owner[header] != folder and owner[header] not in below:
                        faults.append("%s/%s:%d includes %s/%s" % (folder, name, number, owner[header], header))
    for fault in faults:
        print("layers: %s, a folder not listed below its own" % fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
