"""What the NumPy cap in pyproject.toml admits, against the releases on the
index that pip uses.

    python -m tools.numpy_cap                    check the cap (CI)
    python -m tools.numpy_cap --newest-allowed   print the newest release the
                                                 cap admits for this interpreter

The check fails when the cap excludes the newest NumPy release (for the
newest CPython the package supports): a newer minor release fails it until
the suite has run on it and the cap is raised. It also fails when the
running interpreter does not have the newest NumPy it can have, since the
check stands for the suite having run on it (NumPy 2.5 needs CPython 3.12
or later, so on 3.11 that is 2.4).
"""

import argparse
import re
import subprocess
import sys
import tomllib
from importlib.metadata import version
from pathlib import Path

from packaging.requirements import Requirement
from packaging.version import Version

PYPROJECT = Path(__file__).resolve().parent.parent / "pyproject.toml"


def read_project():
    with PYPROJECT.open("rb") as f:
        return tomllib.load(f)["project"]


def numpy_cap(project):
    requirements = map(Requirement, project["dependencies"])
    return next(r for r in requirements if r.name == "numpy").specifier


def newest_python(project):
    pattern = r"Programming Language :: Python :: (3\.\d+)"
    matches = (re.fullmatch(pattern, c) for c in project["classifiers"])
    return max((m[1] for m in matches if m), key=Version)


def numpy_releases(*target):
    """The NumPy releases pip can install, here or for `--python-version X.Y`."""
    listing = subprocess.run(
        [sys.executable, "-m", "pip", "index", "versions", "numpy", *target],
        capture_output=True,
        text=True,
        check=True,
    ).stdout
    return re.search(r"Available versions: (.*)", listing)[1].split(", ")


def check(project):
    cap, python = numpy_cap(project), newest_python(project)
    release = max(numpy_releases("--python-version", python), key=Version)
    here, tested = max(numpy_releases(), key=Version), version("numpy")
    print(f"newest NumPy: {release} (for CPython {python}), {here} for this interpreter")
    print(f"pykora allows numpy{cap}; the suite ran on {tested}")
    if release not in cap:
        sys.exit(f"NumPy {release} is out but the cap excludes it: test it, then raise the cap")
    if tested != here:
        sys.exit(f"the suite ran on NumPy {tested}, not the newest for this interpreter, {here}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--newest-allowed", action="store_true")
    args = parser.parse_args()
    project = read_project()
    if args.newest_allowed:
        print(max(numpy_cap(project).filter(numpy_releases()), key=Version))
    else:
        check(project)


if __name__ == "__main__":
    main()
