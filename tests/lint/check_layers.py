#!/usr/bin/env python3
"""Checks that the product's includes run one way, down the layers.

  check_layers.py [ROOT]

A file may include headers of its own folder and of the folders on lower
layers, never of a folder on its own layer or above: no folder then
includes one above it, no two folders include each other, and no cycle
can form. Every product include names its folder ("log/log.h"), so the
folder is the first part of the path. Prints one line per wrong include
and a summary; exit 1 if anything is wrong.
"""

import os
import re
import sys

# Bottom up. The README's layout table says the same in words.
LAYERS = [
    ("text", "record", "platform"),  # the ground floor
    ("log",),
    ("ui", "registry", "files"),
    ("app",),
]
LAYER_OF = {folder: rank for rank, folders in enumerate(LAYERS) for folder in folders}

# Top-level folders that hold C or C++ code but are not product code.
NOT_PRODUCT = {"tests", "bench"}
SOURCE_SUFFIXES = (".h", ".cpp", ".c")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def may_include(folder):
    return [f for f in LAYER_OF if LAYER_OF[f] < LAYER_OF[folder]]


def check_file(root, rel, folder):
    """The wrong includes of one product file, as messages."""
    wrong = []
    with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            quoted, path = m.group(1) == '"', m.group(2)
            target = path.split("/")[0] if "/" in path else None
            if target is None or target not in LAYER_OF:
                # <string.h>, <sys/types.h>: not ours. A quoted include is
                # always ours and must name a product folder.
                if quoted:
                    wrong.append(f'{rel}:{number}: "{path}" does not name a product folder')
                continue
            if target != folder and target not in may_include(folder):
                allowed = ", ".join(f + "/" for f in may_include(folder)) or "nothing else"
                wrong.append(f"{rel}:{number}: {folder}/ may not include {target}/ "
                             f"({folder}/ may include {allowed})")
    return wrong


def check_tree(root):
    """(files checked, messages) for the product tree under root."""
    checked, wrong = 0, []
    for top in sorted(os.listdir(root)):
        if top.startswith((".", "build")) or top in NOT_PRODUCT:
            continue
        if not os.path.isdir(os.path.join(root, top)):
            continue
        sources = []
        for where, dirs, files in os.walk(os.path.join(root, top)):
            dirs.sort()
            sources += sorted(os.path.relpath(os.path.join(where, name), root)
                              for name in files if name.endswith(SOURCE_SUFFIXES))
        if not sources:
            continue
        if top not in LAYER_OF:
            wrong.append(f"{top}/: a folder of code with no layer in check_layers.py")
            continue
        for rel in sources:
            checked += 1
            wrong += check_file(root, rel.replace(os.sep, "/"), top)
    return checked, wrong


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    checked, wrong = check_tree(os.path.abspath(root))
    for message in wrong:
        print(message)
    print(f"layers: {checked} files checked, {len(wrong)} wrong includes")
    return 1 if wrong or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
