"""Python driver for the kora statistical engine.

The native core lives in two extension modules that load on first use:

* ``pykora.binary`` decodes the engine's result files and flattened vectors;
* ``pykora.options`` holds the package's global options.

Importing ``pykora`` itself stays light: it loads neither NumPy nor the
extension modules. ``pykora.binary`` and ``pykora.options`` are imported the
first time they are looked up as attributes, so that ``import pykora`` then
``help(pykora.binary)`` works as ``import pykora.binary`` does.
"""

from __future__ import annotations

import importlib
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from pykora import binary as binary
    from pykora import options as options

__version__ = "0.1.0"

_LAZY = ("binary", "options")


def __getattr__(name: str) -> object:
    if name not in _LAZY:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    try:
        return importlib.import_module(f"{__name__}.{name}")
    except ImportError as exc:
        # An attribute that cannot be had is an AttributeError, which hasattr() and
        # getattr() with a default expect; the ImportError says why.
        raise AttributeError(f"module {__name__!r} has no attribute {name!r} ({exc})") from exc


def __dir__() -> list[str]:
    return sorted([*globals(), *_LAZY])
