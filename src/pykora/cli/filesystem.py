"""Writing files that no failure leaves half written.

Each file is written to a temporary name in its own directory, checked
(every write, the flush to the disk and the close), and only then renamed
over its name, so that a failure at any point, a full disk, a file-size
limit or a Ctrl-C, leaves the old file as it was and no partial one. When
several files are written, all are written before the first is renamed.
"""

from __future__ import annotations

import contextlib
import os
import stat

from pykora.cli.errors import EXIT_FAILURE, CliError

_ATTEMPTS = 100  # temporary names tried before giving up


def _cannot_write(name: str, exc: OSError) -> CliError:
    return CliError(f"{name}: cannot write: {exc.strerror or exc}", EXIT_FAILURE)


def _target(name: str) -> tuple[str, int | None]:
    """Where ``name`` is written (a symbolic link is written through), and the permissions
    of the file it replaces, if any."""
    path = os.path.realpath(name) if os.path.islink(name) else name
    try:
        info = os.stat(path)
    except FileNotFoundError:
        return path, None
    except OSError as exc:
        raise _cannot_write(name, exc) from None
    if stat.S_ISDIR(info.st_mode):
        raise CliError(f"{name}: cannot write: it is a directory", EXIT_FAILURE)
    if not stat.S_ISREG(info.st_mode):
        raise CliError(f"{name}: cannot write: it is not a regular file", EXIT_FAILURE)
    return path, stat.S_IMODE(info.st_mode)


def _temporary(path: str) -> tuple[int, str]:
    """A new file next to ``path``, open for writing, and its name."""
    folder, base = os.path.split(path)
    for _ in range(_ATTEMPTS):
        temporary = os.path.join(folder, f".{base}.{os.urandom(4).hex()}.tmp")
        try:
            flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC | os.O_NOFOLLOW
            return os.open(temporary, flags, 0o666), temporary
        except FileExistsError:
            continue
    raise FileExistsError(f"no free temporary name next to {path}")


def _write_all(fd: int, data: bytes) -> None:
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view) :]


def _sync_directory(path: str) -> None:
    """Make a rename in ``path``'s directory last; not every file system can."""
    try:
        fd = os.open(os.path.dirname(path) or ".", os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


def write_files(contents: dict[str, bytes], *, replace: bool) -> None:
    """Write each file of ``contents`` (name: bytes), or none at all.

    Without ``replace``, a name that exists already is refused before anything
    is written. A failure is a ``CliError`` naming the file; the files
    renamed into place before it are whole, and no temporary file is left.
    """
    if not replace:
        for name in contents:
            if os.path.lexists(name):
                raise CliError(f"{name}: exists already; --force replaces it", EXIT_FAILURE)
    written: list[tuple[str, str, str]] = []  # (name, where, temporary name)
    try:
        for name, data in contents.items():
            path, mode = _target(name)
            try:
                fd, temporary = _temporary(path)
            except OSError as exc:
                raise _cannot_write(name, exc) from None
            written.append((name, path, temporary))
            try:
                if mode is not None:
                    os.fchmod(fd, mode)
                _write_all(fd, data)
                os.fsync(fd)
            except BaseException as exc:
                with contextlib.suppress(OSError):
                    os.close(fd)
                if isinstance(exc, OSError):
                    raise _cannot_write(name, exc) from None
                raise
            try:
                os.close(fd)  # where a file system reports a write it could not make
            except OSError as exc:
                raise _cannot_write(name, exc) from None
        while written:
            name, path, temporary = written[0]
            try:
                os.replace(temporary, path)
            except OSError as exc:
                raise _cannot_write(name, exc) from None
            written.pop(0)
            _sync_directory(path)
    finally:
        for _, _, temporary in written:
            with contextlib.suppress(OSError):
                os.unlink(temporary)
