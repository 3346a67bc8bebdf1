#!/usr/bin/env bash
# Builds both extension modules with AddressSanitizer and
# UndefinedBehaviorSanitizer into a private directory and runs the whole
# test suite against that build.
#
#   tools/sanitize.sh [pytest args...]
#
# The interpreter itself is not instrumented, so the sanitizer runtimes are
# preloaded and Python's allocator is switched to malloc so that ASan sees
# every allocation. Leak detection is left to tools/valgrind.sh: at exit the
# interpreter keeps memory that LeakSanitizer would report as lost.
set -euo pipefail
cd "$(dirname "$0")/.."

prefix="${PYKORA_SANITIZE_DIR:-build/sanitize}"
rm -rf "$prefix/site"
python -m pip install --quiet "scikit-build-core>=1.1" "numpy>=2.0" pytest hypothesis
python -m pip install --quiet --no-deps --no-build-isolation \
  --target "$prefix/site" \
  -Ccmake.define.PYKORA_SANITIZE=ON \
  -Cbuild-dir="$prefix/cmake" .

asan="$(gcc -print-file-name=libasan.so)"
ubsan="$(gcc -print-file-name=libubsan.so)"
export LD_PRELOAD="$asan $ubsan"
# Reports go to files: pytest captures the test process's stderr, and a
# sanitizer stops the process before pytest could show it. Freed memory is
# filled with 0xdd, as the interpreter's debug allocator fills it, so that an
# object used after it was freed reads as garbage at once instead of as the
# object it was (its memory quarantined by ASan, but otherwise intact).
reports="$PWD/$prefix/reports"
rm -rf "$reports" && mkdir -p "$reports"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:allocator_may_return_null=1:strict_string_checks=1:check_initialization_order=1:max_free_fill_size=65536:free_fill_byte=221:log_path=$reports/asan"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan"
export PYTHONMALLOC=malloc
export PYTHONPATH="$PWD/$prefix/site${PYTHONPATH:+:$PYTHONPATH}"

python -m tools.version_report --under "$prefix/site"
status=0
# The command line's tests are left out: it is plain Python over the
# modules, and its tests cap address space and measure resident memory in
# child processes, which ASan's shadow memory defeats.
python -m pytest -q -p no:cacheprovider tests --ignore=tests/cli "$@" || status=$?
# The random call sequences once more under the interpreter's debug
# allocator, whose hooks also catch a slip of the C API (a block freed by
# the wrong allocator, a buffer overrun into its guard bytes).
PYTHONMALLOC=debug python -m pytest -q -p no:cacheprovider tests/test_call_sequences.py || status=$?
# Oversized allocations that NumPy turns into MemoryError leave warnings
# there too; only errors count.
if compgen -G "$reports/*" >/dev/null && grep -l -E "ERROR:|runtime error" "$reports"/* >/dev/null; then
  grep -h -v "failed to allocate" "$reports"/* >&2
  status=1
fi
exit "$status"
