"""Where the kora engine and its companion tool weftgen are found.

The option lookup calls these functions on every lookup of an option that
is not set explicitly, so they are cheap, have no side effects and never
read options themselves.
"""


def kora_call_builtin() -> str:
    """Default command that runs the kora engine."""
    return "kora"


def weftgen_call_builtin() -> str:
    """Default command that runs the weftgen tool."""
    return "weftgen"


def kora_remote_script() -> str | None:
    """Script that runs the engine on a remote host, or ``None`` when there is none."""
    return None
