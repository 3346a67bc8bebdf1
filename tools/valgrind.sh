#!/usr/bin/env bash
# Runs every native function on its success and error paths under
# valgrind's memcheck and reports the leak records and memory errors that
# have pykora's own code at the top of their stacks (tools/valgrind_triage.py).
#
#   tools/valgrind.sh [calls per case]    (default 20)
#
# Where valgrind is missing, it is installed with apt (as root, as CI runs).
set -euo pipefail
cd "$(dirname "$0")/.."
calls="${1:-20}"
if ! command -v valgrind >/dev/null; then
  apt-get update -qq && apt-get install -y -qq --no-install-recommends valgrind
fi
mkdir -p build
log=build/valgrind.log
# The interpreter binary itself (not a launcher script), so that memcheck
# runs Python rather than a wrapper.
python_bin="$(python -c 'import sys; print(sys.executable)')"

PYTHONMALLOC=malloc valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
  --errors-for-leak-kinds=definite --num-callers=40 --track-origins=yes --log-file="$log" \
  "$python_bin" - "$calls" <<'PY'
import sys
from tools.exercise import CASES
for name, run, _ in CASES:
    for _ in range(int(sys.argv[1])):
        run()
print(f"ran {len(CASES)} cases")
PY

python tools/valgrind_triage.py "$log"
