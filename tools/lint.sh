#!/usr/bin/env bash
# The style gates CI holds every change to: ruff (lint and format) over the
# Python, clang-format over the C++, and mypy --strict over the package.
# The tools are pinned, so that a new release cannot turn a clean tree red.
#
#   tools/lint.sh          check only (what CI runs)
#   tools/lint.sh --fix    rewrite the files instead
set -euo pipefail
cd "$(dirname "$0")/.."
python -m pip install --quiet "ruff==0.17.6" "clang-format==23.1.5" "mypy==2.4.1"
mapfile -t cxx < <(git ls-files 'native/*.cpp' 'native/*.hpp' 'fuzz/*.cpp' 'tests/*.cpp')
if [ "${1:-}" = "--fix" ]; then
  ruff check --fix .
  ruff format .
  clang-format -i "${cxx[@]}"
  exit 0
fi
status=0
ruff check . || status=1
ruff format --check . || status=1
clang-format --dry-run -Werror "${cxx[@]}" || status=1
mypy --strict src/pykora || status=1
exit "$status"
