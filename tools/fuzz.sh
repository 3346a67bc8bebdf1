#!/usr/bin/env bash
# Builds the block-scanner fuzz target with clang's libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs it.
#
#   tools/fuzz.sh [seconds]     (default 60)
#
# Needs clang with its sanitizer and fuzzer runtime; where clang cannot
# link a fuzzer, both are installed with apt (as root, as CI runs). New
# corpus entries are kept in fuzz/corpus/, crashes in fuzz/out/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

fuzzer_links() {
  command -v clang++ >/dev/null &&
    clang++ -fsanitize=fuzzer,address,undefined -x c++ -o /dev/null - 2>/dev/null <<<'
extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }'
}

# clang's sanitizer and fuzzer runtimes come in a package named for clang's
# major version, whose name differs between distributions and releases: ask
# apt for the one that matches the clang it installed.
install_fuzzer_toolchain() {
  apt-get update -qq
  command -v clang++ >/dev/null || apt-get install -y -qq --no-install-recommends clang
  local major runtime
  major="$(clang++ --version | sed -n 's/.*clang version \([0-9][0-9]*\).*/\1/p' | head -n 1)"
  for runtime in "libclang-rt-$major-dev" "libclang-common-$major-dev"; do
    fuzzer_links && return
    if apt-cache show "$runtime" >/dev/null 2>&1; then
      apt-get install -y -qq --no-install-recommends "$runtime"
    fi
  done
  fuzzer_links || {
    echo "clang $major cannot link -fsanitize=fuzzer: no runtime package found" >&2
    return 1
  }
}

if ! fuzzer_links; then
  install_fuzzer_toolchain
fi
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
