#!/usr/bin/env bash
# Runs the tests that read files through pykora.binary with statx refused,
# once as a kernel without statx refuses it (ENOSYS) and once as a seccomp
# profile does (EPERM), so that the reader's fallback (a read of nothing to
# find a directory, a seek to the end for the size, and back to the start)
# is what they test. The shim is built with the system's C compiler into
# build/; the tests run in the active Python environment.
#
#   tools/statx_refused.sh [pytest args...]
set -euo pipefail
cd "$(dirname "$0")/.."

out=build/statx-refused
mkdir -p "$out"
"${CC:-cc}" -std=c11 -O2 -Wall -Wextra -Werror -shared -fPIC \
  -o "$out/libstatx_refused.so" tools/statx_refused.c
shim="$PWD/$out/libstatx_refused.so"

# The shim must stand in the reader's path: reading a file through
# pykora.binary has to be refused, with the errno asked for, and still
# give the file's values.
shim_in_path() {
  python - <<'PY'
import ctypes, errno, os, tempfile

import numpy as np

import pykora.binary

refusals = ctypes.c_long.in_dll(ctypes.CDLL(None), "statx_refusals")
with tempfile.TemporaryDirectory() as tmp:
    path = os.path.join(tmp, "values.dat")
    np.arange(5.0).tofile(path)
    before = refusals.value
    got = pykora.binary.kora_read_binary_file(path)
    assert refusals.value > before, "pykora.binary read a file without calling statx"
    assert got.tolist() == [0.0, 1.0, 2.0, 3.0, 4.0], got
libc = ctypes.CDLL(None, use_errno=True)
assert libc.statx(-100, b"/", 0, 0, ctypes.create_string_buffer(256)) == -1
print("statx refused with", errno.errorcode[ctypes.get_errno()])
PY
}

# Both errors lead to the same fallback: everything that reads files runs
# with ENOSYS, and the reader's own tests once more with EPERM.
refused() {
  local errno="$1"
  shift
  echo "--- statx refused with $errno"
  (
    export LD_PRELOAD="$shim${LD_PRELOAD:+ $LD_PRELOAD}" STATX_REFUSED_ERRNO="$errno"
    shim_in_path &&
    python -m pytest -q -p no:cacheprovider "$@"
  )
}
status=0
# The command line reads its files, stdin included, through pykora.binary.
refused ENOSYS tests/binary tests/cli tests/test_call_sequences.py "$@" || status=1
refused EPERM tests/binary/test_binary_reader.py tests/binary/test_binary_hostile.py "$@" || status=1
exit "$status"
