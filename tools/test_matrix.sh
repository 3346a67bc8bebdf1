#!/usr/bin/env bash
# Runs the test suite on the other supported interpreters and NumPys, each in
# a new virtual environment under build/matrix/, built from this checkout.
#
#   tools/test_matrix.sh python 3.12     the suite on CPython 3.12 (3.13, ...)
#   tools/test_matrix.sh numpy 1.26.4    the suite on the running python with
#                                        that NumPy installed at run time,
#                                        against a wheel built with NumPy 2
#   tools/test_matrix.sh debian 3.14     the suite on Debian unstable's CPython
#                                        3.14 (3.15) with the newest NumPy, in
#                                        the root of tools/debian_unstable.sh
#
# An interpreter is found on PATH as pythonX.Y or, failing that, among the
# versions that pyenv installed. A missing one is an error: the package
# promises every supported version.
#
# The Debian runs build and test the sdist (tools/build_sdist.sh), unpacked
# inside the root, so they also show that it holds all that a build needs;
# what runs inside the root is tools/debian/suite.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
kind="$1"
version="$2"
root="build/matrix"
mkdir -p "$root"

find_python() {
  local v="$1" candidate
  if candidate="$(command -v "python$v")" && "$candidate" -c '' 2>/dev/null; then
    echo "$candidate"
    return
  fi
  if command -v pyenv >/dev/null; then
    for candidate in "$(pyenv root)"/versions/"$v".*/bin/"python$v"; do
      if [ -x "$candidate" ]; then
        echo "$candidate"
        return
      fi
    done
  fi
  echo "no CPython $v found on PATH or under pyenv" >&2
  return 1
}

case "$kind" in
  python)
    interpreter="$(find_python "$version")"
    venv="$root/python-$version"
    rm -rf "$venv"
    "$interpreter" -m venv "$venv"
    # shellcheck disable=SC1091
    . "$venv/bin/activate"
    python --version
    python -m pip install --quiet --upgrade pip
    python -m pip install --quiet ".[test]"
    ;;
  numpy)
    wheels="$root/wheels"
    rm -rf "$wheels"
    # Built in an isolated environment, so against the NumPy 2 headers.
    python -m pip wheel --quiet --no-deps --wheel-dir "$wheels" .
    wheel="$(ls "$wheels"/pykora-*.whl)"
    venv="$root/numpy-$version"
    rm -rf "$venv"
    python -m venv "$venv"
    # shellcheck disable=SC1091
    . "$venv/bin/activate"
    python -m pip install --quiet "numpy==$version" "${wheel}[test]"
    ;;
  debian)
    # One folder per checkout and version: worktrees share the root.
    work="$(bash tools/debian_unstable.sh stage "python$version")"
    exec bash tools/debian_unstable.sh exec bash "$work/tools/debian/suite.sh" "$version"
    ;;
  *)
    echo "usage: $0 python X.Y | numpy VERSION | debian X.Y" >&2
    exit 2
    ;;
esac
python -m tools.version_report
python -m pytest -q -p no:cacheprovider tests
