"""Reading result files, from a path or from standard input, and what to say when it fails.

Only regular files are read from a path: a device such as /dev/zero never
ends and a FIFO blocks until someone writes to it, so both are refused up
front. Standard input (``-``) may be a pipe as well, but not a terminal,
which would wait for binary data that no one types.
"""

from __future__ import annotations

import os
import stat
from dataclasses import dataclass
from typing import TYPE_CHECKING

from pykora.cli.errors import EXIT_FAILURE, EXIT_INVALID, CliError
from pykora.cli.numbers import plural

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

    FloatArray = npt.NDArray[np.float64]

STDIN = "-"
_STDIN_NAME = "standard input"
_STDIN_PATH = "/dev/stdin"  # read to its end by the same reader as any file


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


def _check_kind(arg: str, name: str) -> os.stat_result:
    """The file's status, or a ``CliError`` when it is not one that reading can finish."""
    try:
        info = os.stat(0) if arg == STDIN else os.stat(arg)
    except FileNotFoundError:
        raise CliError(f"{name}: no such file", EXIT_FAILURE) from None
    except OSError as exc:
        reason = "it is closed" if arg == STDIN else exc.strerror or str(exc)
        raise CliError(f"{name}: cannot read: {reason}", EXIT_FAILURE) from None
    except ValueError as exc:  # a name no file can have, such as one with a NUL
        raise CliError(f"{name}: cannot read: {exc}", EXIT_FAILURE) from None
    mode = info.st_mode
    if stat.S_ISDIR(mode):
        raise CliError(f"{name}: cannot read: it is a directory", EXIT_FAILURE)
    if arg == STDIN:
        if stat.S_ISCHR(mode) or stat.S_ISBLK(mode):
            raise CliError(
                f"{name}: is a {_kind(mode)}; pipe a result file into it or give its path",
                EXIT_FAILURE,
            )
    elif not stat.S_ISREG(mode):
        raise CliError(
            f"{name}: not a regular file but a {_kind(mode)}; "
            "result files are read from regular files only",
            EXIT_FAILURE,
        )
    return info


def read_source(arg: str) -> Source:
    """The float64 stream of the path ``arg`` or, for ``-``, of standard input."""
    from pykora.binary import kora_read_binary_file

    name = display_name(arg)
    info = _check_kind(arg, name)
    try:
        values = kora_read_binary_file(_STDIN_PATH if arg == STDIN else arg)
    except ValueError:
        size = f", {plural(info.st_size, 'byte')}," if stat.S_ISREG(info.st_mode) else ""
        raise CliError(
            f"{name}: not a float64 stream: its size{size} is not a multiple of 8", EXIT_INVALID
        ) from None
    except OSError as exc:
        raise CliError(f"{name}: cannot read: {exc.strerror or exc}", EXIT_FAILURE) from None
    except MemoryError:
        what = plural(info.st_size, "byte") if stat.S_ISREG(info.st_mode) else "values"
        raise CliError(f"{name}: not enough memory to read its {what}", EXIT_FAILURE) from None
    if values is None:
        raise CliError(f"{name}: no such file", EXIT_FAILURE)
    return Source(name, values)
