"""Prints which NumPy and which build of pykora the running interpreter
imports, the line every test run starts its log with:

    numpy 2.4.6 with /.../site-packages/pykora/binary.cpython-311-x86_64-linux-gnu.so

    python -m tools.version_report [--under DIR]

--under DIR fails unless every extension module of pykora is imported from
under DIR, so that a run tests the build it means to (an installed wheel,
the sanitizer build) and not another one found first on the path.
"""

import argparse
import importlib
import sys
from pathlib import Path

import numpy

EXTENSION_MODULES = ("pykora.binary", "pykora.options", "pykora._layout", "pykora._text")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--under", type=Path, metavar="DIR")
    args = parser.parse_args()
    files = [Path(importlib.import_module(name).__file__) for name in EXTENSION_MODULES]
    print("numpy", numpy.__version__, "with", files[0])
    if args.under is not None:
        outside = [str(f) for f in files if not f.resolve().is_relative_to(args.under.resolve())]
        if outside:
            sys.exit(f"not imported from under {args.under}: {', '.join(outside)}")


if __name__ == "__main__":
    main()
