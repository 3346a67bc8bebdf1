"""The first stage of every command: a result file read into its float64 values.

A path is read only when it names a regular file: a device such as /dev/zero
never ends and a FIFO waits for a writer, so both are refused before they are
opened. The file is then opened without blocking and its descriptor checked
again, so that a name replaced in between cannot make the command hang.

Standard input (``-``) is descriptor 0, read from where it stands: a pipe,
a FIFO whose writer is gone, a socket, a regular file at whatever offset the
caller left it, or the null device. It is never reopened by name, which
would wait for a new writer on a FIFO, start a regular file over from byte 0
and fail where the process may read the descriptor but not open the name. A
terminal, or any other device, is refused: it would wait for binary data no
one types, or never end.

The values are the bytes read as little-endian float64, as
``pykora.binary.kora_read_binary_file`` reads a file. Reading the descriptor
here, rather than through it, is what lets ``-`` be read in place and lets an
error say how many bytes were read, which for /proc and /sys files is not
the size their status reports.
"""

from __future__ import annotations

import io
import os
import stat
from dataclasses import dataclass
from typing import TYPE_CHECKING

from pykora.cli.errors import EXIT_FAILURE, EXIT_INVALID, CliError
from pykora.cli.numbers import plural

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

    #: The values of a file, and every array of numbers made from them.
    FloatArray = npt.NDArray[np.float64]
    #: Positions and counts: block numbers, starts, pairs, column sources.
    IntArray = npt.NDArray[np.int64]

STDIN = "-"
_STDIN_NAME = "standard input"
#: Bytes asked for at a time once a stream has run past its expected size.
_PIECE = 1 << 20


@dataclass(frozen=True)
class Source:
    """A result file as read: the name errors and headers give it, and its values."""

    name: str
    values: FloatArray


def display_name(arg: str) -> str:
    return _STDIN_NAME if arg == STDIN else arg


def _kind(mode: int) -> str:
    kinds = [
        (stat.S_ISCHR, "character device"),
        (stat.S_ISBLK, "block device"),
        (stat.S_ISFIFO, "FIFO"),
        (stat.S_ISSOCK, "socket"),
    ]
    return next((name for test, name in kinds if test(mode)), "special file")


def _refuse_special(name: str, mode: int) -> None:
    if stat.S_ISDIR(mode):
        raise CliError(f"{name}: cannot read: it is a directory", EXIT_FAILURE)
    if not stat.S_ISREG(mode):
        raise CliError(
            f"{name}: not a regular file but a {_kind(mode)}; "
            "result files are read from regular files only",
            EXIT_FAILURE,
        )


def _cannot_read(name: str, exc: OSError | ValueError) -> CliError:
    if isinstance(exc, FileNotFoundError):
        return CliError(f"{name}: no such file", EXIT_FAILURE)
    reason = exc.strerror if isinstance(exc, OSError) and exc.strerror else str(exc)
    return CliError(f"{name}: cannot read: {reason}", EXIT_FAILURE)


def _open_regular(path: str) -> tuple[int, int]:
    """A descriptor of the regular file ``path``, and its size."""
    try:
        _refuse_special(path, os.stat(path).st_mode)
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
    except (OSError, ValueError) as exc:  # ValueError: a name no file can have, with a NUL
        raise _cannot_read(path, exc) from None
    try:
        info = os.fstat(fd)
        _refuse_special(path, info.st_mode)  # the name may have changed hands since
    except BaseException:
        os.close(fd)
        raise
    return fd, info.st_size


def _is_null_device(info: os.stat_result) -> bool:
    try:
        null = os.stat(os.devnull)
    except OSError:
        return False
    return stat.S_ISCHR(null.st_mode) and info.st_rdev == null.st_rdev


def _stdin_expected() -> int:
    """What reading descriptor 0 should give, in bytes (0 when only its end will tell)."""
    try:
        info = os.fstat(0)
    except OSError:
        raise CliError(f"{_STDIN_NAME}: cannot read: it is closed", EXIT_FAILURE) from None
    mode = info.st_mode
    if stat.S_ISDIR(mode):
        raise CliError(f"{_STDIN_NAME}: cannot read: it is a directory", EXIT_FAILURE)
    if stat.S_ISCHR(mode) and not _is_null_device(info) or stat.S_ISBLK(mode):
        raise CliError(
            f"{_STDIN_NAME}: is a {_kind(mode)}; pipe a result file into it or give its path",
            EXIT_FAILURE,
        )
    if not stat.S_ISREG(mode):
        return 0
    try:
        return max(info.st_size - os.lseek(0, 0, os.SEEK_CUR), 0)
    except OSError:
        return 0


def _read_to_end(fd: int, expected: int) -> tuple[npt.NDArray[np.uint8] | bytearray, int]:
    """The bytes from ``fd``'s position to its end, and how many there are.

    ``expected`` bytes are read straight into an array; whatever follows
    them (a file that grew, a stream of unknown length) is read a piece at a
    time and joined once at the end.
    """
    import numpy as np

    head = np.empty(expected, dtype=np.uint8)
    got = 0
    with open(fd, "rb", buffering=0, closefd=False) as stream:
        view = head.data
        while got < expected and (n := _read_into(stream, fd, view[got:])):
            got += n
        if got < expected:  # the end came early: a file shorter than its size says
            return head[:got], got
        rest, piece = bytearray(), memoryview(bytearray(_PIECE))
        while n := _read_into(stream, fd, piece):
            rest += piece[:n]
    if not rest:
        return head, got
    if not got:
        return rest, len(rest)
    return np.concatenate([head, np.frombuffer(rest, dtype=np.uint8)]), got + len(rest)


def _read_into(stream: io.RawIOBase, fd: int, into: memoryview) -> int:
    """One read; waits for data where the descriptor does not (it may be non-blocking)."""
    import select

    while (n := stream.readinto(into)) is None:
        select.select([fd], [], [])
    return n


def _as_values(data: npt.NDArray[np.uint8] | bytearray) -> FloatArray:
    import numpy as np

    values = np.frombuffer(data, dtype="<f8")  # shares the bytes: no copy on little-endian
    return values.astype(np.float64, copy=False)


def read_source(arg: str) -> Source:
    """The float64 stream of the path ``arg`` or, for ``-``, of standard input."""
    name = display_name(arg)
    if arg == STDIN:
        fd, expected = 0, _stdin_expected()
    else:
        fd, expected = _open_regular(arg)
    try:
        data, size = _read_to_end(fd, expected)
    except OSError as exc:
        raise _cannot_read(name, exc) from None
    except MemoryError:
        what = plural(expected, "byte") if expected else "values"
        raise CliError(f"{name}: not enough memory to read its {what}", EXIT_FAILURE) from None
    finally:
        if fd != 0:
            os.close(fd)
    if size % 8:
        raise CliError(
            f"{name}: not a float64 stream: its size, {plural(size, 'byte')}, "
            "is not a multiple of 8",
            EXIT_INVALID,
        )
    return Source(name, _as_values(data))
