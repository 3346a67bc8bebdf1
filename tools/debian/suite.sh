#!/usr/bin/env bash
# Runs inside the Debian unstable root (tools/debian_unstable.sh exec), in a
# folder that `tools/debian_unstable.sh stage` made: this checkout's sdist,
# unpacked, with its tools/ beside it. Builds the package from the sdist
# with Debian's CPython X.Y, in a new virtual environment, and runs the
# suite with the newest NumPy that pip finds for it.
#
#   tools/debian/suite.sh X.Y
set -euo pipefail
cd "$(dirname "$0")/../.."
version="$1"

"python$version" -m venv venv
# shellcheck disable=SC1091
. venv/bin/activate
python --version
python -m pip install --quiet --upgrade pip
python -m pip install --quiet ".[test]"
python -m tools.version_report
python -m pytest -q -p no:cacheprovider tests
