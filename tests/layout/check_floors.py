#!/usr/bin/env python3
"""Checks that every source file includes only its own floor or the floors
below it (README, "How the code is laid out").

An include names its owner in its first path component: "flint/..." is
flint-theme (flint-theme/src/flint, "flint/gtk/..." its GTK half), "wire/..."
the codec both programs share (wire/), "flintmill/<floor>/..." the daemon
(flintmill/), and "util/", "cli/", "client/", "screenshot/", "window/",
"main/" the launcher's floors (src/). The launcher, low to high:

    flint  <  flint/gtk  <  util  <  wire  <  cli, client  <  screenshot
           <  window  <  main

The daemon's floors, low to high, each of which may also include wire/, util/
and flint/ (not flint/gtk/):

    flintmill/extract  <  meaning  <  index  <  watch  <  service  <  main

Nothing outside flintmill/ includes it. Folders that do not exist yet are
simply not scanned. Prints each offending line and exits 1 when there is one.
"""
import pathlib
import re
import sys

LAUNCHER = {"flint": 0, "flint/gtk": 0.5, "util": 1, "wire": 1.5, "cli": 2, "client": 2,
            "screenshot": 3, "window": 4, "main": 5}
DAEMON = {f"flintmill/{floor}": rank for rank, floor in
          enumerate(("extract", "meaning", "index", "watch", "service", "main"))}
DAEMON_MAY_USE = {"wire", "util", "flint"}
SOURCES = ("src", "flint-theme/src", "wire", "flintmill")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def owner_of_parts(parts):
    """The floor that a path (split into components, file name last) belongs to."""
    folders = parts[:-1]
    if not folders:
        return None
    if folders[0] == "flint":
        return "flint/gtk" if folders[1:2] == ("gtk",) else "flint"
    if folders[0] == "flintmill":
        return f"flintmill/{folders[1]}" if len(folders) > 1 else None
    return folders[0]


def owner_of_file(path, root):
    parts = path.relative_to(root).parts
    if parts[0] == "src":
        parts = parts[1:]
    elif parts[:2] == ("flint-theme", "src"):
        parts = parts[2:]
    owner = owner_of_parts(parts)
    return owner if owner in LAUNCHER or owner in DAEMON else None


def may_include(own, target):
    if target == own:
        return True
    if own in DAEMON:
        return target in DAEMON_MAY_USE or (target in DAEMON and DAEMON[target] < DAEMON[own])
    return target in LAUNCHER and LAUNCHER[target] < LAUNCHER[own]


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    files = [p for d in SOURCES for p in sorted((root / d).rglob("*"))
             if p.suffix in (".cpp", ".hpp", ".h", ".c")]
    bad = []
    for path in files:
        where = path.relative_to(root)
        own = owner_of_file(path, root)
        if own is None:
            bad.append(f"{where}: not in a known floor")
            continue
        for number, line in enumerate(path.read_text().splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            name = match.group(1)
            target = owner_of_parts(tuple(name.split("/")))
            if target not in LAUNCHER and target not in DAEMON:
                bad.append(f"{where}:{number}: {name} does not name its library")
            elif not may_include(own, target):
                bad.append(f"{where}:{number}: {own}/ includes {name} ({target}/ is not below it)")
    print("\n".join(bad) if bad else f"{len(files)} files include only their floor or below")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
