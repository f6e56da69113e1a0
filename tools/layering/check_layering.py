#!/usr/bin/env python3
"""Checks the project's layering: which folders' code may include which folders' headers, that the engine
libraries include no Qt header, and that the given engine programs link no Qt library.

usage: check_layering.py SOURCE_DIR [PROGRAM ...]
Prints every breach and exits 1 when there is one."""
import os
import re
import subprocess
import sys

# A folder's code may include headers of these folders (its own included). The most specific folder wins.
ENGINE = ["base", "drive", "isofs", "engine"]
ALLOWED = {
    "base": ["base"],
    "drive": ["base", "drive"],
    "isofs": ["base", "isofs"],
    "engine": ENGINE,
    "app/profile": ["base", "app/profile"],
    "app/workflow": ENGINE + ["app/profile", "app/workflow"],
    "app/cli": ENGINE + ["app/profile", "app/workflow", "app/cli"],
    "widgets": ["base", "widgets"],
    "explorer": ["base", "explorer"],
}
# Folders whose code must stay free of Qt.
QT_FREE = ["base", "drive", "isofs", "engine", "app/profile", "app/workflow", "app/cli"]
SOURCE = re.compile(r"\.(h|hpp|c|cc|cpp)$")
PROJECT_INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
QT_INCLUDE = re.compile(r"^\s*#\s*include\s+<(Q[A-Za-z]+|Qt[A-Za-z]+/[^>]*)>")


def owner(path, table):
    best = None
    for folder in table:
        if path == folder or path.startswith(folder + "/"):
            if best is None or len(folder) > len(best):
                best = folder
    return best


def breaches(root):
    found = []
    for folder in ALLOWED:
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for name in files:
                if not SOURCE.search(name):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root)
                home = owner(rel, ALLOWED)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = PROJECT_INCLUDE.match(line)
                        if m and "/" in m.group(1):
                            target = owner(m.group(1), ALLOWED) or m.group(1).split("/")[0]
                            # A test may use another module's test support (a fixture, a runner).
                            shared_support = name.endswith("_test.cpp") and "/testing/" in m.group(1)
                            if target not in ALLOWED[home] and not shared_support:
                                found.append(f"{rel}:{number}: {home}/ may not include {m.group(1)}")
                        if QT_INCLUDE.match(line) and owner(rel, QT_FREE):
                            found.append(f"{rel}:{number}: {home}/ must stay free of Qt: {line.strip()}")
    return found


def qt_links(program):
    out = subprocess.run(["ldd", program], capture_output=True, text=True).stdout
    return [f"{program} links {line.split()[0]}" for line in out.splitlines() if "libQt" in line]


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    found = breaches(sys.argv[1])
    for program in sys.argv[2:]:
        found += qt_links(program)
    for line in found:
        print(line)
    print(f"layering: {len(found)} breach(es)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
