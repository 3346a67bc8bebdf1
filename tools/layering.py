"""Checks the layers of the native code through its #include lines:

- native/core is pure C++: it includes nothing of the other layers, nor
  Python's or NumPy's headers;
- native/common includes only itself and the core, and has no include loop:
  a header and its source count as one unit (common/function.hpp and
  common/function.cpp are common/function), and no unit reaches itself;
- each module folder (native/binary, ...) includes only itself, common and
  the core: no module depends on another.

    python -m tools.layering

Prints each layer's units and what they include; exits 1, naming the file
and line, at the first rule broken.
"""

import re
import sys
from pathlib import Path

NATIVE = Path(__file__).resolve().parent.parent / "native"
QUOTED = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
ANGLED = re.compile(r"^\s*#\s*include\s+<([^>]+)>")
PYTHON_HEADERS = re.compile(r"^(Python\.h|structmember\.h|numpy/.*|py.*\.h)$")


def unit_of(path):
    """common/function.cpp -> common/function"""
    return path.relative_to(NATIVE).with_suffix("").as_posix()


def read_includes():
    """{unit: [(included unit, file, line number)]} and the Python headers included."""
    quoted, python = {}, []
    for path in sorted(NATIVE.rglob("*.[ch]pp")):
        edges = quoted.setdefault(unit_of(path), [])
        for number, line in enumerate(path.read_text().splitlines(), 1):
            if match := QUOTED.match(line):
                edges.append((str(Path(match[1]).with_suffix("")), path, number))
            elif (match := ANGLED.match(line)) and PYTHON_HEADERS.match(match[1]):
                python.append((unit_of(path), match[1], path, number))
    return quoted, python


def layer(unit):
    return unit.split("/", 1)[0]


def find_loop(units, graph):
    """A list of units that leads back to its first one, or None."""
    state = dict.fromkeys(units, "new")
    path = []

    def visit(unit):
        state[unit] = "open"
        path.append(unit)
        for target in graph[unit]:
            if state.get(target) == "open":
                return [*path[path.index(target) :], target]
            if state.get(target) == "new" and (loop := visit(target)):
                return loop
        path.pop()
        state[unit] = "done"
        return None

    for unit in units:
        if state[unit] == "new" and (loop := visit(unit)):
            return loop
    return None


def broken_rules(quoted, python):
    for unit, header, path, number in python:
        if layer(unit) == "core":
            yield f"{path}:{number}: the core includes {header}"
    for unit, edges in quoted.items():
        allowed = {"core": {"core"}, "common": {"common", "core"}}.get(
            layer(unit), {layer(unit), "common", "core"}
        )
        for target, path, number in edges:
            if target not in quoted:
                yield f"{path}:{number}: includes {target}, which is not under native/"
            elif layer(target) not in allowed:
                yield f"{path}:{number}: {layer(unit)} includes {target}"
    common = sorted(u for u in quoted if layer(u) == "common")
    graph = {
        unit: sorted({t for t, _, _ in quoted[unit] if t != unit and layer(t) == "common"})
        for unit in common
    }
    if loop := find_loop(common, graph):
        yield "include loop in native/common: " + " -> ".join(loop)


def main():
    quoted, python = read_includes()
    for name in sorted({layer(u) for u in quoted}):
        units = sorted(u for u in quoted if layer(u) == name)
        used = ", ".join(sorted({t for u in units for t, _, _ in quoted[u] if layer(t) != name}))
        print(f"native/{name}: {len(units)} units; includes from outside: {used or 'none'}")
    broken = list(broken_rules(quoted, python))
    for rule in broken:
        print(rule, file=sys.stderr)
    if broken:
        sys.exit(1)
    print("the layers hold: the core stands alone, common has no include loop")


if __name__ == "__main__":
    main()
