#!/usr/bin/env bash
# Runs every native function on its success and error paths under
# valgrind's memcheck and reports the leak records and memory errors whose
# stacks pass through pykora's own extension modules.
#
#   tools/valgrind.sh [calls per case]    (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
calls="${1:-20}"
mkdir -p build
log=build/valgrind.log
# The interpreter binary itself (not a launcher script), so that memcheck
# runs Python rather than a wrapper.
python_bin="$(python -c 'import sys; print(sys.executable)')"

PYTHONMALLOC=malloc valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
  --errors-for-leak-kinds=definite --num-callers=40 --log-file="$log" \
  "$python_bin" - "$calls" <<'PY'
import sys
sys.path.insert(0, "tools")
from exercise import CASES
for name, run, _ in CASES:
    for _ in range(int(sys.argv[1])):
        run()
print(f"ran {len(CASES)} cases")
PY

python - "$log" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
records = re.split(r"\n==\d+== \n", text)
ours = re.compile(r"(binary|options)\.cpython-|pykora::")
definite = [r for r in records if "definitely lost" in r and "loss record" in r]
errors = [r for r in records if re.search(r"Invalid (read|write|free)|uninitialised|Mismatched", r)]
mine_definite = [r for r in definite if ours.search(r)]
mine_errors = [r for r in errors if ours.search(r)]
summary = re.search(r"definitely lost: [^\n]*", text)
print("whole process:", summary.group(0) if summary else "no leak summary")
print(f"definitely lost records through pykora: {len(mine_definite)} (of {len(definite)})")
print(f"memory errors through pykora: {len(mine_errors)} (of {len(errors)})")
for r in mine_definite + mine_errors:
    print(r)
sys.exit(1 if mine_definite or mine_errors else 0)
PY
