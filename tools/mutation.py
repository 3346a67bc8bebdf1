"""Mutation testing of a change: plants one small fault at a time in the files
the change touched, rebuilds, runs the checks that guard each file, and
reports how many faults they caught and every one that got past them.

    bash tools/mutation.sh [--seed N] [--minutes M] [--mutants N] [BASE | FILE ...]

Run by tools/mutation.sh, in the virtual environment it keeps under
build/mutation/. C++ mutants come from universalmutator, Python mutants from
cosmic-ray's operators. Mutants are written into a copy of the sources
(build/mutation/tree), never into the checkout, and the checks run there too,
so that the checkout can be worked on during a run; the package is built from
that copy into the environment once, and each C++ mutant rebuilds only the
objects its file goes into. A mutant that compiles to the same modules and
programs as the original is equivalent and is not run; one that does not
compile is not counted either.
"""

import argparse
import ast
import difflib
import filecmp
import hashlib
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import sysconfig
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
WORK = ROOT / "build" / "mutation"
TREE = WORK / "tree"  # the sources the mutants are written into
MODULES = WORK / "cmake"  # the extension modules' build, made by pip
CORE = WORK / "ctest"  # the C++ core's checks
SHIM = WORK / "libstatx_refused.so"
SITE = Path(sysconfig.get_paths()["platlib"])

PYTEST = [sys.executable, "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider"]
# Lines no mutant is made on: comments, preprocessor lines, namespaces and
# lone braces, where a change either does not compile or changes nothing.
INERT_LINE = re.compile(r"^\s*(//|#|/\*|namespace\b|}\s*//\s*namespace|[{}();]*\s*$)")


@dataclass
class Check:
    name: str
    argv: list
    env: dict = field(default_factory=dict)
    seconds: float = 0.0  # on the unmutated build


def pytest(*paths, seed):
    return Check(f"pytest {' '.join(paths)}", [*PYTEST, f"--hypothesis-seed={seed}", *paths])


# The tests of each extension module's Python face. The stubs' test reads every
# native module's signatures and docstrings; the command line's tests and the
# pages' examples are where the layout's summary and the text writers' output
# are checked.
MODULE_TESTS = {
    "binary": ["tests/binary", "tests/test_call_sequences.py", "tests/test_stubs.py"],
    "options": ["tests/options", "tests/test_call_sequences.py", "tests/test_stubs.py"],
    "layout": ["tests/layout", "tests/test_stubs.py", "tests/cli", "tests/docs"],
    "text": ["tests/text", "tests/test_stubs.py", "tests/cli", "tests/docs"],
}
# The modules each file of the core goes into (any other: all of them).
CORE_USERS = {
    "file_reader": ["binary"],
    "vector_blocks": ["binary", "layout"],
    "vector_summary": ["layout"],
    "option_table": ["options"],
    "float_text": ["text"],
    "view_text": ["text"],
}


def tests_of(modules):
    """The module tests of `modules`, each path once, the command line's and the pages' last
    (the slowest)."""
    paths = dict.fromkeys(p for m in modules for p in MODULE_TESTS[m])
    return sorted(paths, key=lambda p: p in ("tests/cli", "tests/docs"))


def checks_for(path, seed):
    """The checks that guard `path`, cheapest first: (tests, then what CI adds)."""
    leaks = Check("leak check", [sys.executable, "-m", "tools.leak_check", "--calls", "2000"])
    reader = pytest("tests/binary/test_binary_reader.py", "tests/binary/test_binary_hostile.py",
                    seed=seed).argv  # fmt: skip
    statx = [
        Check(f"reader with statx refused ({errno})", reader,
              {"LD_PRELOAD": str(SHIM), "STATX_REFUSED_ERRNO": errno})
        for errno in ("ENOSYS", "EPERM")
    ]  # fmt: skip
    ctest = Check("C++ core checks", ["ctest", "--test-dir", str(CORE), "--output-on-failure"])
    folder, stem = Path(path).parent.name, Path(path).stem
    if path.startswith("native/core/"):
        tests = [ctest, pytest(*tests_of(CORE_USERS.get(stem, MODULE_TESTS)), seed=seed)]
        return tests + (statx if "file_reader" in path else [])
    if path.startswith("native/") and folder in MODULE_TESTS:
        checks = [pytest(*tests_of([folder]), seed=seed), leaks]
        return checks + (statx if folder == "binary" and "reader" in path else [])
    if path.startswith("native/"):  # what the modules share
        shared = ["tests/test_native_modules.py", *tests_of(MODULE_TESTS)]
        return [pytest(*dict.fromkeys(shared), seed=seed), leaks]
    if path.startswith("src/pykora/cli/"):  # the pages' examples are its output, byte for byte
        return [pytest("tests/cli", "tests/docs", seed=seed)]
    return [pytest("tests", seed=seed)]


@dataclass
class Mutant:
    path: str  # relative to the checkout
    line: int
    before: str
    after: str
    source: str  # the whole mutated file
    outcome: str = ""  # killed, timeout, survived, uncompilable, equivalent
    by: str = ""


def run(argv, **kwargs):
    return subprocess.run(argv, cwd=kwargs.pop("cwd", ROOT), check=True, **kwargs)


def quiet(argv, cwd=ROOT, timeout=None, env=None):
    """Whether `argv` succeeds; its output is kept only in the log."""
    with open(WORK / "last.log", "wb") as log:
        try:
            done = subprocess.run(argv, cwd=cwd, stdout=log, stderr=subprocess.STDOUT,
                                  timeout=timeout, env=env)  # fmt: skip
        except subprocess.TimeoutExpired:
            return None
    return done.returncode == 0


def changed_files(base):
    # A fresh clone has the base branch only as its remote's.
    for ref in (base, f"origin/{base}"):
        found = subprocess.run(["git", "rev-parse", "--verify", "--quiet", f"{ref}^{{commit}}"],
                               cwd=ROOT, capture_output=True)  # fmt: skip
        if found.returncode == 0:
            break
    else:
        sys.exit(f"no such ref: {base}")
    # What this branch touched since it left the base, not what the base did since.
    fork = run(["git", "merge-base", ref, "HEAD"], capture_output=True, text=True).stdout.strip()
    listed = run(["git", "diff", "--name-only", fork], capture_output=True, text=True).stdout
    untracked = run(["git", "ls-files", "--others", "--exclude-standard"],
                    capture_output=True, text=True).stdout  # fmt: skip
    return sorted(set(listed.split()) | set(untracked.split()))


def mutable(path):
    return (
        re.fullmatch(r"native/.+\.(cpp|hpp)", path) or re.fullmatch(r"src/pykora/.+\.py", path)
    ) and (ROOT / path).is_file()


def refresh_tree():
    """Copies the checkout's files into the tree where they differ, so that
    the build there stays incremental."""
    files = run(["git", "ls-files", "-co", "--exclude-standard"], capture_output=True,
                text=True).stdout.split()  # fmt: skip
    for name in files:
        source, target = ROOT / name, TREE / name
        if source.is_file() and not (target.exists() and filecmp.cmp(source, target, False)):
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(source, target)


def build(install=True):
    """Rebuilds what changed in the tree; False when it does not compile."""
    for directory in (MODULES, CORE):
        if not quiet(["cmake", "--build", str(directory)], timeout=900):
            return False
    if install:
        run(["cmake", "--install", str(MODULES), "--prefix", str(SITE)], stdout=subprocess.DEVNULL)
    return True


def fingerprint():
    """The built modules and core programs, byte for byte."""
    digest = hashlib.sha256()
    built = sorted(MODULES.glob("*.so")) + [CORE / "core_checks", CORE / "fuzz_replay"]
    for path in built:
        digest.update(path.read_bytes())
    return digest.hexdigest()


def first_build():
    refresh_tree()
    python = ["-DPython_EXECUTABLE=" + sys.executable]
    if not (MODULES / "build.ninja").exists():
        print("building the package from build/mutation/tree (once)", flush=True)
        run([sys.executable, "-m", "pip", "install", "--quiet", "--no-deps",
             "--no-build-isolation", f"-Cbuild-dir={MODULES}", str(TREE)])  # fmt: skip
    if not (CORE / "build.ninja").exists():
        run(["cmake", "-S", str(TREE), "-B", str(CORE), "-G", "Ninja", "-DPYKORA_PYTHON=OFF",
             "-DPYKORA_TESTS=ON", "-DCMAKE_BUILD_TYPE=Release", *python],
            stdout=subprocess.DEVNULL)  # fmt: skip
    if not build():
        sys.exit(f"the unmutated tree does not build: see {WORK / 'last.log'}")
    # The installed Python files and stubs are the tree's own, new ones included.
    package = TREE / "src" / "pykora"
    for source in [*package.rglob("*.py"), *package.rglob("*.pyi"), package / "py.typed"]:
        target = SITE / "pykora" / source.relative_to(TREE / "src" / "pykora")
        if not target.exists() or not filecmp.cmp(source, target, False):
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(source, target)
    run([os.environ.get("CC", "cc"), "-std=c11", "-O2", "-shared", "-fPIC", "-o", str(SHIM),
         str(ROOT / "tools" / "statx_refused.c")])  # fmt: skip


def changed_line(original, mutated):
    """(line number, before, after) of the one place a mutant differs."""
    for tag, i1, i2, j1, j2 in difflib.SequenceMatcher(None, original, mutated).get_opcodes():
        if tag != "equal":
            before = " / ".join(line.strip() for line in original[i1:i2])
            after = " / ".join(line.strip() for line in mutated[j1:j2])
            return i1 + 1, before or original[i1 - 1].strip(), after
    return None


def cpp_mutants(path):
    original = (TREE / path).read_text().splitlines()
    with tempfile.TemporaryDirectory(dir=WORK) as out:
        source = Path(out) / Path(path).name
        shutil.copy2(TREE / path, source)
        rules = ROOT / "tools" / "mutation_cpp.rules"
        quiet(["mutate", str(source), "cpp", "--only", str(rules), "--noCheck", "--mutantDir", out],
              cwd=out)  # fmt: skip
        for generated in sorted(Path(out).glob("*.mutant.*")):
            text = generated.read_text()
            place = changed_line(original, text.splitlines())
            if place is None or INERT_LINE.match(original[min(place[0], len(original)) - 1]):
                continue
            if re.sub(r"\s", "", place[1]) == re.sub(r"\s", "", place[2]):
                continue
            yield Mutant(path, *place, source=text)


class _Unannotated(ast.NodeTransformer):
    """Drops the annotations of a module whose annotations are never evaluated, and
    what it imports and defines for them alone (under ``if TYPE_CHECKING:``)."""

    def visit_If(self, node):
        if isinstance(node.test, ast.Name) and node.test.id == "TYPE_CHECKING":
            node.body = [ast.Pass()]
        return self.generic_visit(node)

    def visit_arg(self, node):
        node.annotation = None
        return node

    def visit_FunctionDef(self, node):
        node.returns = None
        return self.generic_visit(node)

    visit_AsyncFunctionDef = visit_FunctionDef

    def visit_AnnAssign(self, node):
        node.annotation = ast.Constant(None)
        return self.generic_visit(node)


def meaning(text, lazy):
    """What Python runs of `text`: its syntax tree, without the annotations when they
    are `lazy` (postponed by `from __future__ import annotations`, so that a mutant
    of one changes only a string no code reads)."""
    tree = ast.parse(text)
    return ast.dump(_Unannotated().visit(tree) if lazy else tree)


def python_mutants(path):
    from cosmic_ray.commands.init import _all_work_items
    from cosmic_ray.mutating import mutate_code
    from cosmic_ray.plugins import get_operator

    text = (TREE / path).read_text()
    original = text.splitlines()
    lazy = "from __future__ import annotations" in text
    for item in _all_work_items([TREE / path], {}):
        for spec in item.mutations:
            mutated = mutate_code(text, get_operator(spec.operator_name)(), spec.occurrence)
            if mutated is None:
                continue
            try:  # an operator may write what does not parse, as `not n := f()`
                if meaning(mutated, lazy) == meaning(text, lazy):
                    continue
            except SyntaxError:
                continue
            place = changed_line(original, mutated.splitlines())
            if place is not None:
                yield Mutant(path, *place, source=mutated)


def run_checks(mutant, checks):
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
    for check in checks:
        ok = quiet(check.argv, cwd=TREE, timeout=max(60.0, 3 * check.seconds),
                   env={**env, **check.env})  # fmt: skip
        if ok is None:
            return "timeout", check.name
        if not ok:
            return "killed", check.name
    return "survived", ""


def try_mutant(mutant, checks, reference):
    target = TREE / mutant.path
    original = target.read_bytes()
    installed = SITE / "pykora" / Path(mutant.path).relative_to("src/pykora") if (
        mutant.path.endswith(".py")) else None  # fmt: skip
    try:
        if installed is None:
            target.write_text(mutant.source)
            if not build():
                return "uncompilable", ""
            if fingerprint() == reference:
                return "equivalent", "same machine code"
        else:
            installed.write_text(mutant.source)
        return run_checks(mutant, checks)
    finally:
        if installed is None:
            target.write_bytes(original)
        else:
            installed.write_bytes(original)


def timed_baseline(checks):
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
    for check in checks:
        began = time.monotonic()
        if not quiet(check.argv, cwd=TREE, env={**env, **check.env}):
            sys.exit(f"{check.name} fails without mutants: see {WORK / 'last.log'}")
        check.seconds = time.monotonic() - began
        print(f"  {check.name}: passes in {check.seconds:.0f} s", flush=True)


def build_seconds(path):
    """What rebuilding after a change of `path` costs (0 for Python)."""
    if path.endswith(".py"):
        return 0.0
    (TREE / path).touch()
    began = time.monotonic()
    build(install=False)
    return time.monotonic() - began


def sample(pools, costs, seconds, count, rng):
    """Mutants taken in turn from each file's shuffled pool, until their
    estimated cost fills `seconds` (or `count` are taken)."""
    for pool in pools.values():
        rng.shuffle(pool)
    chosen, spent = [], 0.0
    while any(pools.values()):
        for path, pool in pools.items():
            if not pool:
                continue
            if count is not None and len(chosen) >= count:
                return chosen
            if count is None and spent + costs[path] > seconds:
                return chosen
            chosen.append(pool.pop())
            spent += costs[path]
    return chosen


def report(mutants):
    print()
    rows, survivors = {}, []
    for m in mutants:
        row = rows.setdefault(m.path, {"killed": 0, "timeout": 0, "survived": 0,
                                       "uncompilable": 0, "equivalent": 0})  # fmt: skip
        row[m.outcome] += 1
        if m.outcome == "survived":
            survivors.append(m)
    print(f"{'file':44} {'killed':>6} {'survived':>8} {'rate':>6}   not counted")
    total = {"caught": 0, "survived": 0}
    for path, row in rows.items():
        caught = row["killed"] + row["timeout"]
        total["caught"] += caught
        total["survived"] += row["survived"]
        counted = caught + row["survived"]
        rate = f"{100 * caught / counted:.0f} %" if counted else "-"
        aside = f"{row['uncompilable']} uncompilable, {row['equivalent']} same machine code"
        print(f"{path:44} {caught:6d} {row['survived']:8d} {rate:>6}   {aside}")
    counted = total["caught"] + total["survived"]
    rate = 100 * total["caught"] / counted if counted else 0.0
    print(f"catch rate: {total['caught']} of {counted} mutants killed ({rate:.1f} %)")
    for m in survivors:
        print(f"survived: {m.path}:{m.line}: {m.before}  ==>  {m.after}")
    return rate


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=1, help="chooses the sample (default 1)")
    parser.add_argument("--minutes", type=float, default=20, help="time for the run (default 20)")
    parser.add_argument("--mutants", type=int, help="run this many mutants, whatever the time")
    parser.add_argument("targets", nargs="*", help="a base ref (default main) or files to mutate")
    args = parser.parse_args()
    started = time.monotonic()
    # Run in the background, as `cmd &` runs it, the tool would hand SIGINT
    # ignored down to the tests, whose children then cannot be interrupted.
    signal.signal(signal.SIGINT, signal.default_int_handler)

    if args.targets and all((ROOT / t).is_file() for t in args.targets):
        files = args.targets
    elif len(args.targets) <= 1:
        files = changed_files(args.targets[0] if args.targets else "main")
    else:
        parser.error("give one base ref, or files of the checkout")
    files = [f for f in files if mutable(f)]
    if not files:
        print("nothing to mutate: no C++ of native/ or Python of src/pykora among the files")
        return 0

    WORK.mkdir(parents=True, exist_ok=True)
    first_build()
    reference = fingerprint()
    print("unmutated checks:", flush=True)
    checks = {path: checks_for(path, args.seed) for path in files}
    unique = {c.name: c for cs in checks.values() for c in cs}
    timed_baseline(unique.values())
    for cs in checks.values():
        for c in cs:
            c.seconds = unique[c.name].seconds

    pools, costs = {}, {}
    for path in files:
        made = python_mutants(path) if path.endswith(".py") else cpp_mutants(path)
        pools[path] = sorted(made, key=lambda m: (m.line, m.after))
        costs[path] = build_seconds(path) + sum(c.seconds for c in checks[path])
    total = sum(len(p) for p in pools.values())
    build()  # the tree's own modules again, after timing the rebuilds
    left = args.minutes * 60 - (time.monotonic() - started)
    chosen = sample(pools, costs, left, args.mutants, random.Random(args.seed))
    chosen.sort(key=lambda m: (files.index(m.path), m.line))
    print(f"sample: {len(chosen)} of {total} mutants in {len(files)} files (seed {args.seed})",
          flush=True)  # fmt: skip

    try:
        for i, m in enumerate(chosen, 1):
            m.outcome, m.by = try_mutant(m, checks[m.path], reference)
            print(f"[{i}/{len(chosen)}] {m.outcome:12} {m.path}:{m.line}: {m.after[:70]}"
                  + (f"  ({m.by})" if m.by else ""), flush=True)  # fmt: skip
    finally:
        build()
    report([m for m in chosen if m.outcome])
    print(f"took {(time.monotonic() - started) / 60:.1f} minutes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
