#!/usr/bin/env python3
# Layering check over the #include lines: a file may include its own layer or a lower one,
# never a higher one; no group of files may include each other in a circle; and operating-system
# headers stay in their front-end and the seam backends.
# Exits non-zero and names every offending include and circle.
import os
import re
import sys

# The layers, top first. A layer is one or more folders; the seams at the bottom (the window,
# clock and file seams, the resource identifiers) may be included from every layer.
LAYERS = [
    ("tests", ["tests", "bench"]),  # roots of their own: they may use everything
    ("simulator", ["sim"]),  # the device on the far end; it shares only the link's codes
    ("front-ends", ["src/frontends", "tools"]),
    ("app", ["src/app"]),
    ("script", ["src/script"]),
    ("tilt", ["src/tilt"]),
    ("protocol", ["src/protocol"]),
    ("logging", ["src/logging"]),
    ("ui", ["src/ui"]),
    ("link", ["src/link"]),
    ("seams", ["src/platform", "resources"]),
]
# Operating-system headers: inside src/ only the front-end of that platform and the seam
# backends named after it (*_win32.cpp, *_posix.cpp) may include them.
PLATFORM_HEADERS = {
    "win32": ("src/frontends/win32/", re.compile(r"^(windows|commctrl|commdlg)\.h$")),
    "posix": ("src/frontends/console/",
              re.compile(r"^(unistd|termios|poll|fcntl|pty|signal|sys/\w+)\.h$")),
}
SYSTEM_INCLUDE = re.compile(r'^\s*#\s*include\s+<([^>]+)>')
# Where a quoted include is looked for, after the including file's own folder.
INCLUDE_DIRS = ["src", "resources", ".", "tests", "tests/console", "tests/e2e"]
SOURCE = re.compile(r"\.(h|cpp)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(path):
    for rank, (_, folders) in enumerate(LAYERS):
        if any(path == f or path.startswith(f + "/") for f in folders):
            return rank
    return None


def resolve(including, name):
    for base in [os.path.dirname(including)] + INCLUDE_DIRS:
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(candidate):
            return candidate
    return None


# A module is a header with its sources: x.h, x.cpp, x_posix.cpp and x_win32.cpp, and x_state.h,
# the private state of a module whose sources are split by job.
def module_of(path):
    return re.sub(r"(_posix|_win32|_state)?\.(h|cpp)$", "", path)


def source_files():
    for _, folders in LAYERS:
        for folder in folders:
            for root, dirs, files in os.walk(folder):
                dirs[:] = sorted(d for d in dirs if not d.startswith((".", "__")))
                for name in sorted(files):
                    if SOURCE.search(name):
                        yield os.path.normpath(os.path.join(root, name))


def find_circles(edges):
    # Strongly connected components (Tarjan); every one with two or more modules is a circle.
    index, low, stack, on_stack, circles = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for nxt in sorted(edges.get(node, ())):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            component = []
            while True:
                top = stack.pop()
                on_stack.discard(top)
                component.append(top)
                if top == node:
                    break
            if len(component) > 1:
                circles.append(sorted(component))

    for node in sorted(edges):
        if node not in index:
            visit(node)
    return circles


def main():
    os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    problems = []
    edges = {}
    files = list(source_files())
    for path in files:
        own = layer_of(path)
        with open(path, encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                system = SYSTEM_INCLUDE.match(line)
                if system and path.startswith("src/"):
                    for platform, (frontend, headers) in PLATFORM_HEADERS.items():
                        allowed = path.startswith(frontend) or path.endswith(f"_{platform}.cpp")
                        if headers.match(system.group(1)) and not allowed:
                            problems.append(f"{path}:{number}: <{system.group(1)}> belongs to "
                                            f"the {platform} front-end and backends")
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = resolve(path, match.group(1))
                if target is None:
                    problems.append(f"{path}:{number}: include \"{match.group(1)}\" not found")
                    continue
                theirs = layer_of(target)
                if theirs is None:
                    problems.append(f"{path}:{number}: {target} lies in no layer")
                elif theirs < own:
                    problems.append(f"{path}:{number}: {LAYERS[own][0]} includes {target} "
                                    f"from the higher layer {LAYERS[theirs][0]}")
                a, b = module_of(path), module_of(target)
                if a != b:
                    edges.setdefault(a, set()).add(b)
    for circle in find_circles(edges):
        problems.append("include circle: " + " <-> ".join(circle))
    for problem in problems:
        print(problem)
    print(f"check-layers: {len(files)} files, {len(problems)} findings")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
