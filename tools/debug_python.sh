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
# source build too; the plot tests skip without it.
set -euo pipefail
cd "$(dirname "$0")/.."
version="${PYKORA_DEBUG_PYTHON:-3.14}"
work="$(bash tools/debian_unstable.sh stage "python$version-dbg")"

exec bash tools/debian_unstable.sh exec bash -euo pipefail -c '
cd "$1"
version="$2"
shift 2
"python$version-dbg" -m venv venv
. venv/bin/activate
python -c "import sys; assert hasattr(sys, \"gettotalrefcount\"), \"not a Py_DEBUG build\""
python --version
python -m pip install --quiet --upgrade pip
python -m pip install --quiet packaging "scikit-build-core>=1.1" ninja pytest hypothesis mypy

# The newest NumPy that the package allows.
numpy="$(python - <<"PY"
import re, subprocess, sys, tomllib
from packaging.requirements import Requirement
from packaging.version import Version
with open("pyproject.toml", "rb") as f:
    deps = tomllib.load(f)["project"]["dependencies"]
allowed = next(Requirement(d) for d in deps if Requirement(d).name == "numpy").specifier
listing = subprocess.run([sys.executable, "-m", "pip", "index", "versions", "numpy"],
                         capture_output=True, text=True, check=True).stdout
versions = re.search(r"Available versions: (.*)", listing).group(1).split(", ")
print(max(allowed.filter(versions), key=Version))
PY
)"
cache=/var/cache/pykora/debug-wheels
mkdir -p "$cache"
tag="$(python -c "import sys; print(f\"cp{sys.version_info.major}{sys.version_info.minor}d\")")"
if ! compgen -G "$cache/numpy-$numpy-*-$tag-*.whl" >/dev/null; then
  echo "building NumPy $numpy from source for $tag"
  start=$SECONDS
  python -m pip wheel --quiet --no-deps --no-binary numpy --wheel-dir "$cache" "numpy==$numpy"
  echo "NumPy $numpy for $tag: built from source in $((SECONDS - start)) s" >"$cache/numpy-$numpy-$tag.time"
fi
cat "$cache/numpy-$numpy-$tag.time"
python -m pip install --quiet "$cache"/numpy-"$numpy"-*-"$tag"-*.whl

# The python3.14d include directory of Debian holds symlinks to the release
# headers, beside a pyconfig.h of its own that defines Py_DEBUG. GCC
# resolves the symlinks of system headers (CMake passes the Python ones as
# -isystem), and "pyconfig.h" would then be the release one: the extension
# would build without Py_DEBUG, and its own reference counting would go
# unchecked. Keeping the paths as given finds the debug pyconfig.h, and nm
# confirms the result: every Py_DECREF of a debug build can call
# _Py_NegativeRefcount.
CXXFLAGS="-fno-canonical-system-headers" python -m pip install --quiet --no-build-isolation \
  --no-deps -Ccmake.build-type=Debug -Cbuild-dir=build/debug .
for so in venv/lib/python*/site-packages/pykora/*.so; do
  if ! nm -D --undefined-only "$so" | grep " _Py_NegativeRefcount$" >/dev/null; then
    echo "$so was not built against the Py_DEBUG headers" >&2
    exit 1
  fi
done
python -c "import numpy, pykora.binary; print(\"numpy\", numpy.__version__, \"with\", pykora.binary.__file__)"
# The interpreter reports a failed check on stderr and aborts: capturing at
# the level of sys.stderr rather than of the file descriptor lets that report
# and the Python stack of every thread reach the terminal. For the C stack,
# run the failing test under gdb (see docs/development.md).
python -X faulthandler -m pytest -q -p no:cacheprovider --capture=sys tests "$@"
' - "$work" "$version" "$@"
