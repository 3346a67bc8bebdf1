#!/usr/bin/env bash
# Runs the test suite under python3.14-dbg, CPython built with Py_DEBUG, in
# the Debian unstable root of tools/debian_unstable.sh. A debug interpreter
# checks the C API's rules as it goes: it aborts on a negative reference
# count, on a call made with an exception already set, on a result returned
# with an exception set, and fills freed memory so that a use after free
# shows.
#
#   tools/debug_python.sh [pytest args...]
#
# Nobody ships NumPy wheels for a debug interpreter's ABI (cp314d), so NumPy
# is built from its sdist, once: the wheel is kept in the root, under
# /var/cache/pykora/debug-wheels, with the time its build took, and later
# runs install it in seconds. The package is built from the sdist
# (tools/build_sdist.sh) without optimisation and with its own assertions
# on. The test extras are installed but for matplotlib, which would need a
# source build too; the plot tests skip without it. What runs inside the
# root is tools/debian/debug_suite.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
version="${PYKORA_DEBUG_PYTHON:-3.14}"
work="$(bash tools/debian_unstable.sh stage "python$version-dbg")"
exec bash tools/debian_unstable.sh exec bash "$work/tools/debian/debug_suite.sh" "$version" "$@"
