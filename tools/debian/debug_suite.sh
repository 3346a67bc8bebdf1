#!/usr/bin/env bash
# Runs inside the Debian unstable root (tools/debian_unstable.sh exec), in a
# folder that `tools/debian_unstable.sh stage` made: this checkout's sdist,
# unpacked, with its tools/ beside it. Runs the suite under Debian's
# pythonX.Y-dbg, CPython built with Py_DEBUG (tools/debug_python.sh).
#
#   tools/debian/debug_suite.sh X.Y [pytest args...]
set -euo pipefail
cd "$(dirname "$0")/../.."
version="$1"
shift

"python$version-dbg" -m venv venv
# shellcheck disable=SC1091
. venv/bin/activate
python -c 'import sys; assert hasattr(sys, "gettotalrefcount"), "not a Py_DEBUG build"'
python --version
python -m pip install --quiet --upgrade pip
python -m pip install --quiet packaging "scikit-build-core>=1.1" ninja pytest hypothesis mypy

# Nobody ships NumPy wheels for a debug interpreter's ABI (cp314d), so the
# newest NumPy that the package allows is built from its sdist, once: the
# wheel is kept in the root, with the time its build took.
numpy="$(python -m tools.numpy_cap --newest-allowed)"
cache=/var/cache/pykora/debug-wheels
mkdir -p "$cache"
tag="$(python -c 'import sys; print(f"cp{sys.version_info.major}{sys.version_info.minor}d")')"
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
python -m tools.version_report
# The interpreter reports a failed check on stderr and aborts: capturing at
# the level of sys.stderr rather than of the file descriptor lets that report
# and the Python stack of every thread reach the terminal. For the C stack,
# run the failing test under gdb (see docs/development.md).
python -X faulthandler -m pytest -q -p no:cacheprovider --capture=sys tests "$@"
