"""Small helpers shared by the package."""


def kora_anyMultibyteUTF8Characters(text: object) -> bool:  # noqa: N802 - public name kept for callers
    """Return True when some character of ``text`` needs more than one byte in UTF-8."""
    return not str(text).isascii()
