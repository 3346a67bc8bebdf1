#!/usr/bin/env bash
# Mutation testing of a change, for maintainers (not a CI step): small
# faults are planted one at a time in the C++ and Python files the change
# touched, and the checks that guard each file must catch them. Prints the
# catch rate and every mutant that got past.
#
#   tools/mutation.sh                     # files changed since the branch left main (working tree included)
#   tools/mutation.sh BASE                # ... since another ref
#   tools/mutation.sh FILE...             # these files
#   tools/mutation.sh --seed 2 --minutes 40 [--mutants N] ...
#
# The mutants are a sample, drawn with the seed, sized to fit the time
# (20 minutes by default). The tools (universalmutator for C++, cosmic-ray
# for Python) and the test dependencies live in a virtual environment of
# their own under build/mutation/, made on the first run.
set -euo pipefail
cd "$(dirname "$0")/.."

venv=build/mutation/venv
if [ ! -x "$venv/bin/python" ]; then
  "${PYTHON:-python3}" -m venv "$venv"
  "$venv/bin/python" -m pip install --quiet --upgrade pip
fi
"$venv/bin/python" -m pip install --quiet "universalmutator==1.14.1" "cosmic-ray==8.7.0" \
  "scikit-build-core>=1.1" ninja cmake "numpy>=2.0,<2.6" pytest hypothesis mypy matplotlib
PATH="$PWD/$venv/bin:$PATH" exec nice "$venv/bin/python" -m tools.mutation "$@"
