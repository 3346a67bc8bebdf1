"""Global options of pykora: defaults, the store of set values, lookup and setting."""

from collections.abc import Iterable
from typing import Any

_KORA_OPTIONS: dict[str, Any]
"""Values set explicitly, by option key; options not in it take their default."""

def _cpu_default_string() -> str:
    """Default of "num.threads": the CPU count clamped to 1..16, followed by ":1"."""

def kora_get_option_default() -> dict[str, Any]:
    """Default options (no recursion to get current options)."""

def kora_get_option(option: str | Iterable[str] | None = None) -> Any:
    """Get current option(s). If option is None, return a dict of current values.

    A ``str`` gives that option's value, any other iterable of keys a list of
    values. ``KeyError`` for an unknown key.
    """

def kora_set_option(*args: Any, **kwargs: Any) -> None:
    """Set global options: ``kora_set_option("keep", True)`` or ``kora_set_option(keep=True)``.

    ``KeyError`` for an unknown key; ``ValueError`` for an invalid "kora.mode".
    """

def _set_one(option: str, value: Any) -> None:
    """Store one value after checking its key."""

def _post_set_checks() -> None:
    """Check "kora.mode", "malloc.lib" and "working.directory" after options change."""

def kora_enabled_Braidwell_features() -> bool:
    """Whether the option "Braidwell.features" is switched on."""

# Helpers of the sibling modules that the lookups and checks call.
def kora_call_builtin() -> Any:
    """Default of "kora.call": the command that runs the engine."""

def weftgen_call_builtin() -> Any:
    """Default of "weftgen.call": the command that runs weftgen."""

def kora_remote_script() -> Any:
    """What replaces a "kora.call" of "remote" or "kora.remote"; falsy when there is none."""

def _any_mb(text: str) -> bool:
    """Whether ``text`` holds a character that needs more than one byte in UTF-8."""
