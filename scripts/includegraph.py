#!/usr/bin/env python3
"""Prints which folders of src/ include headers of which others, and fails when
a folder includes one above it (which includes every cycle) or when src/core
includes a header of a library other than Qt Core, Qt Network and the C++
standard library.

usage: includegraph.py SRC_DIR [--qt-headers DIR...]
  --qt-headers  the Qt include directories (any of them: the root holding
                QtCore/, QtWidgets/, ... is found from there); without them,
                Qt class headers such as <QWidget> are looked up in the usual
                Debian place.
"""
import os
import re
import sys

# What each folder may include besides itself; every folder may include core.
# Dependencies point one way: app -> bridge -> playback -> player, all -> core.
# A new folder has to say here where it sits.
MAY_INCLUDE = {
    "core": [],
    "player": ["core"],
    "playback": ["player", "core"],
    "desktop": ["core"],
    "bridge": ["playback", "player", "library", "desktop", "core"],
    "update": ["desktop", "core"],
    "app": ["bridge", "update", "desktop", "playback", "player", "core"],
    # Local media import and the media library: no GUI, beside the player.
    "library": ["core", "speech"],
    # Shadowing: the learner's recording compared with the sentence; no GUI.
    "speech": ["core"],
    "forms": [],
    "resources": [],
}
CORE_QT_MODULES = {"QtCore", "QtNetwork"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def qt_root(dirs):
    for d in dirs + ["/usr/include/x86_64-linux-gnu/qt5", "/usr/include/qt5"]:
        for candidate in (d, os.path.dirname(d.rstrip("/"))):
            if os.path.isdir(os.path.join(candidate, "QtCore")):
                return candidate
    return None


def qt_module(root, header):
    """The Qt module that provides a header such as <QWidget> or <QtGui/QImage>."""
    first = header.split("/")[0]
    if first.startswith("Qt") and "/" in header:
        return first
    if root and header.startswith("Q"):
        for module in sorted(os.listdir(root)):
            if os.path.isfile(os.path.join(root, module, header)):
                return module
    return None


def main(argv):
    args = argv[1:]
    if not args or args[0].startswith("-"):
        sys.exit(__doc__)
    src = args[0]
    qt_dirs = args[args.index("--qt-headers") + 1:] if "--qt-headers" in args else []
    root = qt_root(qt_dirs)
    folders = sorted(d for d in os.listdir(src) if os.path.isdir(os.path.join(src, d)))

    edges = {folder: set() for folder in folders}
    problems = []
    for folder in folders:
        if folder not in MAY_INCLUDE:
            problems.append("src/%s is not in the layer table of %s" % (folder, os.path.basename(__file__)))
            continue
        for dirpath, _, files in os.walk(os.path.join(src, folder)):
            for name in sorted(files):
                if not name.endswith((".h", ".hpp", ".cpp", ".cc")):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, errors="replace") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        quoted, header = match.group(1) == '"', match.group(2)
                        where = "%s:%d" % (os.path.relpath(path, src), number)
                        target = header.split("/")[0]
                        if quoted and "/" in header and target in folders and target != folder:
                            edges[folder].add(target)
                            if target not in MAY_INCLUDE[folder]:
                                problems.append("%s: %s includes %s, a folder above it" % (where, folder, header))
                        if folder == "core" and not quoted:
                            module = qt_module(root, header)
                            if module and module not in CORE_QT_MODULES:
                                problems.append("%s: core includes <%s> from %s" % (where, header, module))
                            elif not module and ("/" in header or "." in header):
                                problems.append("%s: core includes <%s>, not Qt Core or Network" % (where, header))

    for folder in folders:
        if edges[folder]:
            print("%s -> %s" % (folder, ", ".join(sorted(edges[folder]))))
    cycle = find_cycle(edges)
    if cycle:
        problems.append("cycle: " + " -> ".join(cycle))
    for problem in problems:
        print("FAIL " + problem)
    if not problems:
        print("OK: no cycle, no folder includes one above it, core uses Qt Core and Network only")
    return 1 if problems else 0


def find_cycle(edges):
    state = {}

    def visit(node, stack):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == "open":
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt, stack)
                if found:
                    return found
        state[node] = "done"
        stack.pop()
        return None

    for node in sorted(edges):
        if node not in state:
            found = visit(node, [])
            if found:
                return found
    return None


if __name__ == "__main__":
    sys.exit(main(sys.argv))
