#!/usr/bin/env bash
# Builds the block-scanner fuzz target with clang's libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs it.
#
#   fuzz/run.sh [seconds]     (default 60)
#
# Needs clang with its sanitizer runtime (.ci/run installs both). New
# corpus entries are kept in fuzz/corpus/, crashes in fuzz/out/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
mkdir -p fuzz/corpus fuzz/out

cmake -S . -B build/fuzz -DPYKORA_PYTHON=OFF -DPYKORA_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz --target fuzz_vector_blocks >/dev/null

# A few seeds: the documented shapes of the flattened vector.
python - <<'PY'
import struct, pathlib
seeds = {
    "two_blocks": [1, 1, 0.5, 3, 2, 2, 0.1, 1, 0.9, 2],
    "truncated": [1, 3, 0.1, 1, 0.5],
    "empty_then_short": [7, -3, 1, 2],
    "halves": [1, 2.5, 1, 2, 3, 4, 5, 6, 9],
    "huge_count": [1, 1e300, 1, 2],
}
for name, values in seeds.items():
    pathlib.Path("fuzz/corpus", name).write_bytes(struct.pack(f"<{len(values)}d", *values))
PY

build/fuzz/fuzz_vector_blocks -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix=fuzz/out/ -max_len=4096 fuzz/corpus 2>&1 | tee build/fuzz/last_run.log |
  grep -E "(DONE|INITED) |stat::|ERROR|invariant|SUMMARY" || true
if grep -q -E "ERROR: (libFuzzer|AddressSanitizer)|invariant broken|runtime error" build/fuzz/last_run.log; then
  echo "fuzzing found a failure; see build/fuzz/last_run.log and fuzz/out/" >&2
  exit 1
fi
