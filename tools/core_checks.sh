#!/usr/bin/env bash
# Builds the pure C++ core without Python, with its own checks
# (tests/core/core_checks.cpp) and the fuzz target's replay over fixed seeds,
# and runs them with ctest.
#
#   tools/core_checks.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/ctest -DPYKORA_PYTHON=OFF -DPYKORA_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/ctest >/dev/null
ctest --test-dir build/ctest --output-on-failure
