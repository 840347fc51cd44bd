#!/usr/bin/env python3
# Call check over the compiled objects: every call (an undefined symbol of one object that
# another object defines) must point down the layers of scripts/check-layers.py, as the
# includes do. The one exception is the window seam: the functions declared in
# src/platform/window.h are defined by a front-end and called from every layer below it.
# Calls through a function pointer that a hub registered leave no symbol and are not seen,
# which is why such a hook must be visible in a type (protocol/send_path.h's LinkOwner).
#   check-calls.py [BUILD]                 every object of src/, sim/ and tools/ in BUILD
#   check-calls.py --pair SOURCE=OBJECT... only these objects, each named by its source path
# Exits non-zero and names every upward call.
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from importlib import import_module

layers = import_module("check-layers")

WINDOW_SEAM = "src/platform/window.h"
SEAM_LAYER = "front-ends"
DECLARATION = re.compile(r"^\s*(?!//)[\w:<>*&\s]*?\b(\w+)\s*\(")


def seam_functions(root):
    names = set()
    with open(os.path.join(root, WINDOW_SEAM), encoding="utf-8") as f:
        for line in f:
            match = DECLARATION.match(line)
            if match:
                names.add(match.group(1))
    return names


def objects_of(build):
    # An object built from SOURCE lies at <dir>/CMakeFiles/<target>.dir/<rest>.o, where <dir>
    # is the source folder's place in the build tree and SOURCE is <dir>/<rest>.
    pairs = {}
    for top in ("src", "sim", "tools"):
        for folder, _, files in os.walk(os.path.join(build, top)):
            for name in files:
                path = os.path.join(folder, name)
                rel = os.path.relpath(path, build)
                match = re.match(r"^(.*?)/?CMakeFiles/[^/]+\.dir/(.+)\.o$", rel)
                if match and "Unity" not in rel:
                    pairs[os.path.normpath(os.path.join(match.group(1), match.group(2)))] = path
    return pairs


def symbols(path, undefined):
    args = ["nm", "-g", "-u"] if undefined else ["nm", "-g", "--defined-only"]
    out = subprocess.run(args + [path], capture_output=True, text=True, check=True).stdout
    found = set()
    for line in out.splitlines():
        parts = line.split()
        if not parts:
            continue
        kind, name = parts[-2], parts[-1]
        # Weak and unique symbols are inline functions and template copies every user has.
        if undefined or kind in "TDBRG":
            found.add(name)
    return found


def demangle(names):
    out = subprocess.run(["c++filt"], input="\n".join(names), capture_output=True, text=True, check=True)
    return dict(zip(names, out.stdout.splitlines()))


def function_name(demangled):
    return re.sub(r"\(.*$", "", demangled).split("::")[-1].split()[-1]


def check(pairs, root):
    seam = seam_functions(root)
    definers = {}
    for source, obj in pairs.items():
        for name in symbols(obj, False):
            definers.setdefault(name, []).append(source)
    problems = []
    for source, obj in sorted(pairs.items()):
        own = layers.layer_of(source)
        if own is None:
            continue
        calls = sorted(n for n in symbols(obj, True) if n in definers)
        names = demangle(calls) if calls else {}
        for name in calls:
            ranks = [(layers.layer_of(d), d) for d in definers[name] if layers.layer_of(d) is not None]
            if not ranks or any(rank >= own for rank, _ in ranks):
                continue
            rank, callee = min(ranks)
            if layers.LAYERS[rank][0] == SEAM_LAYER and function_name(names[name]) in seam:
                continue
            problems.append(f"{source}: {layers.LAYERS[own][0]} calls {names[name]} in {callee} "
                            f"from the higher layer {layers.LAYERS[rank][0]}")
    return problems


def main(argv):
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    if argv and argv[0] == "--pair":
        pairs = dict(a.split("=", 1) for a in argv[1:])
    else:
        build = argv[0] if argv else os.path.join(root, "build", "native-release")
        pairs = objects_of(build)
    if not pairs:
        print("check-calls: no objects found (build first)")
        return 1
    problems = check(pairs, root)
    for problem in problems:
        print(problem)
    print(f"check-calls: {len(pairs)} objects, {len(problems)} findings")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
