#!/usr/bin/env python3
"""Checks that every source file includes only its own folder or the floors
below it (README, "How the code is laid out"):

    src/main  >  src/window  >  src/screenshot  >  src/client, src/cli
              >  src/util  >  flint-theme/src (its gtk/ above the rest)

Includes are the quoted ones; a header named without one of src/'s folders
("text.hpp", "gtk/theme.hpp") is flint-theme's. Prints each offending line
and exits 1 when there is one.
"""
import pathlib
import re
import sys

FLOORS = {"main": 5, "window": 4, "screenshot": 3, "client": 2, "cli": 2, "util": 1,
          "flint-theme/gtk": 0.5, "flint-theme": 0}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of(path, root):
    rel = path.relative_to(root).parts
    if rel[0] == "src":
        return rel[1]
    return "flint-theme/gtk" if "gtk" in rel[:-1] else "flint-theme"


def folder_of_include(name):
    first = name.split("/")[0]
    if first in FLOORS:
        return first
    return "flint-theme/gtk" if first == "gtk" else "flint-theme"


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    files = [p for d in ("src", "flint-theme/src") for p in sorted((root / d).rglob("*"))
             if p.suffix in (".cpp", ".hpp", ".h", ".c")]
    bad = []
    for path in files:
        own = folder_of(path, root)
        for number, line in enumerate(path.read_text().splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = folder_of_include(match.group(1))
            if target != own and FLOORS[target] >= FLOORS[own]:
                bad.append(f"{path.relative_to(root)}:{number}: {own}/ includes {match.group(1)} "
                           f"({target}/ is not below it)")
    print("\n".join(bad) if bad else f"{len(files)} files include only their floor or below")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
